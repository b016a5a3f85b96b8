#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/unattended.h"
#include "support/memory_machine.h"

namespace varno {
namespace {

using Args = std::vector<std::string>;
using Action = CommandLine::Action;

TEST(SplitCommandLineArguments, FollowsTheRuntimesQuotingAndBackslashRules) {
  const struct {
    const char* line;
    Args expected;
  } cases[] = {
      {"Varnolith_MAJ_Solo.exe", {}},
      {"\"C:\\Program Files\\Paquet\\Varnolith_MAJ_Solo.exe\" /quiet", {"/quiet"}},
      // The program name keeps its backslashes before a quote.
      {"\"C:\\Paquet\\\" /quiet", {"/quiet"}},
      {"x.exe  /quiet\t-LOG=C:\\a.txt  ", {"/quiet", "-LOG=C:\\a.txt"}},
      {"x.exe \"/dir=C:\\Program Files\\TolMerik\\Varnolith\"", {"/dir=C:\\Program Files\\TolMerik\\Varnolith"}},
      {"x.exe /dir=\"C:\\Mes Programmes\"\\Varnolith", {"/dir=C:\\Mes Programmes\\Varnolith"}},
      {"x.exe /log=\\\\serveur\\journaux\\pc1.txt", {"/log=\\\\serveur\\journaux\\pc1.txt"}},
      // 2n backslashes and a quote: n backslashes and a grouping quote; 2n+1: a literal one.
      {"x.exe \"a\\\\\" b", {"a\\", "b"}},
      {"x.exe a\\\"b", {"a\"b"}},
      {"x.exe \"a \"\"b\"\" c\"", {"a \"b\" c"}},
      {"x.exe \"\" /quiet", {"", "/quiet"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLineArguments(c.line), c.expected) << c.line;
}

TEST(ParseCommandLine, KnowsItsSwitchesInAnyCaseWithSlashOrDash) {
  EXPECT_EQ(ParseCommandLine({}).action, Action::Run);
  EXPECT_FALSE(ParseCommandLine({}).options.quiet);

  const CommandLine all = ParseCommandLine({"/QUIET", "-Reinstall", "/Dir=C:\\Varno", "-log=C:\\Logs\\maj.txt"});
  EXPECT_EQ(all.action, Action::Run);
  EXPECT_TRUE(all.options.quiet);
  EXPECT_TRUE(all.options.reinstall);
  EXPECT_EQ(all.options.installDir, "C:\\Varno");
  EXPECT_EQ(all.options.logPath, "C:\\Logs\\maj.txt");
  const CommandLine close = ParseCommandLine({"/CloseApplications"});
  EXPECT_TRUE(close.options.closeApplications);
  EXPECT_FALSE(close.options.forceCloseApplications);
  const CommandLine force = ParseCommandLine({"-forcecloseapplications"});
  EXPECT_TRUE(force.options.closeApplications && force.options.forceCloseApplications);
  EXPECT_EQ(ParseCommandLine({"/closeapplications=1"}).action, Action::Wrong);
  // A path may hold "=" itself; a later switch wins.
  EXPECT_EQ(ParseCommandLine({"/log=a.txt", "/log=C:\\x=y.txt"}).options.logPath, "C:\\x=y.txt");

  for (const Args& usage : {Args{"/?"}, Args{"-?"}, Args{"/HELP"}, Args{"/quiet", "-help"}}) {
    EXPECT_EQ(ParseCommandLine(usage).action, Action::Usage) << usage.front();
  }
}

TEST(ParseCommandLine, AnythingElseIsWrong) {
  for (const Args& wrong : {Args{"quiet"}, Args{"/"}, Args{"/silent"}, Args{"/quiet=1"}, Args{"/dir="}, Args{"/dir"},
                            Args{"/log"}, Args{"/quietx"}, Args{"/q"}, Args{"--quiet"}, Args{"/?", "/bogus"},
                            Args{""}, Args{"/reinstall", "C:\\Varno"}}) {
    EXPECT_EQ(ParseCommandLine(wrong).action, Action::Wrong) << testing::PrintToString(wrong);
  }
}

TEST(AnswerCommandLine, ShowsTheUsageUnlessQuietAndGivesTheExitCode) {
  fake::MemoryMachine machine;
  EXPECT_FALSE(AnswerCommandLine(ParseCommandLine({"/quiet"}), machine.dialogs, machine.system));
  EXPECT_EQ(AnswerCommandLine(ParseCommandLine({"/?"}), machine.dialogs, machine.system), ExitCode::kSuccess);
  EXPECT_EQ(AnswerCommandLine(ParseCommandLine({"/bogus"}), machine.dialogs, machine.system),
            ExitCode::kBadCommandLine);
  ASSERT_EQ(machine.dialogs.shown.size(), 2u);
  EXPECT_EQ(machine.dialogs.shown[1].kind, BoxKind::Message);
  EXPECT_TRUE(machine.dialogs.shown[1].text.starts_with("Utilisation : Varnolith_MAJ_Solo.exe [/quiet"));

  EXPECT_EQ(AnswerCommandLine(ParseCommandLine({"/bogus", "/quiet"}), machine.dialogs, machine.system),
            ExitCode::kBadCommandLine);
  EXPECT_EQ(machine.dialogs.shown.size(), 2u) << "a quiet run shows no usage";
}

}  // namespace
}  // namespace varno
