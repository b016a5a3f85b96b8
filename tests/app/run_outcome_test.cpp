// How each end of the run sets the program's exit code, with and without anyone present.
#include <functional>

#include <gtest/gtest.h>

#include "app/form1.h"
#include "base/text_lines.h"
#include "package/archive_writer.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kProductKey;
using fake::kTestInstallDir;
using Lines = std::vector<std::string>;

constexpr char kInstallLog[] = "C:\\Program Files\\TolMerik\\Varnolith\\VarnoMaJLog.txt";
constexpr char kFleetLog[] = "C:\\Logs\\varnolith.log";

class RunOutcomeTest : public ::testing::Test {
 protected:
  using Args = std::vector<std::string>;
  ExitCode Run(const Args& arguments = {}) {
    const CommandLine commandLine = ParseCommandLine(arguments);
    EXPECT_EQ(commandLine.action, CommandLine::Action::Run);
    Platform platform = machine.platform();
    return RunApplication(platform, "WINDOWS NT", nullptr, commandLine.options);
  }

  void Package(const std::string& version, const std::string& installed = "2816080",
               const std::string& dir = kTestInstallDir) {
    fake::InstallProduct(machine, dir, installed, dir == kTestInstallDir);
    fake::WritePackageDescription(machine, version, "[insubdir]\r\nData : data.slp\r\n");
    machine.files.MakeDirectory(dir + "\\Data");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("Varnolith.exe", "NEW")}));
    machine.files.AddFile("C:\\Package\\data.slp", ArchiveBytes({MemberFromBytes("base.dat", "D")}));
  }

  std::string RegisteredVersion() {
    auto value = machine.registry.Get(kHkeyLocalMachine, kProductKey, "Version");
    return value ? value->data.c_str() : "<none>";
  }
  Lines Log(const std::string& path) { return SplitTextLines(machine.files.Content(path).value_or("<no log>")); }
  bool Logged(const std::string& path, const std::string& line) {
    const Lines log = Log(path);
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  // Files and registry, without the fleet log, which is history.
  std::string Installation() {
    const auto log = machine.files.Content(kFleetLog);
    machine.files.RemoveFile(kFleetLog);
    std::string state = machine.files.Dump() + machine.registry.Dump();
    if (log) machine.files.AddFile(kFleetLog, *log);
    return state;
  }
  // Nothing of a quiet run may reach the screen.
  void ExpectNothingShown() {
    EXPECT_TRUE(machine.dialogs.shown.empty()) << machine.Dump();
    EXPECT_EQ(machine.dialogs.directoryDialogs, 0);
    EXPECT_FALSE(machine.window.formVisible);
    EXPECT_FALSE(machine.window.loopRan);
    for (bool visible : machine.window.visible) EXPECT_FALSE(visible);
  }

  fake::MemoryMachine machine;
};

TEST_F(RunOutcomeTest, InteractiveEndsGiveTheirCodes) {
  EXPECT_EQ(Run(), ExitCode::kPackageUnusable) << "no description";

  Package("2816090");
  machine.dialogs.answers = {false};
  EXPECT_EQ(Run(), ExitCode::kUserDeclined) << "Non to the confirmation";

  machine.window = {};
  machine.window.clickButton1InLoop = true;
  EXPECT_EQ(Run(), ExitCode::kSuccess) << machine.Dump();
  EXPECT_EQ(RegisteredVersion(), "2816090");

  machine.dialogs.answers = {true, false};
  EXPECT_EQ(Run(), ExitCode::kUserDeclined) << "Non to applying the same version again";

  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "2816091");
  EXPECT_EQ(Run(), ExitCode::kNewerVersionInstalled);

  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "2816080");
  machine.registry.Refuse(kHkeyLocalMachine, "SOFTWARE\\DeleteMe", kKeySetValue | kKeyCreateSubKey);
  EXPECT_EQ(Run(), ExitCode::kFailed) << "missing rights";
}

TEST_F(RunOutcomeTest, AnErrorTakenBackFails) {
  Package("2816090");
  machine.registry.FailWritesUnder(kHkeyLocalMachine, kProductKey);
  EXPECT_EQ(Run(), ExitCode::kFailed);
  EXPECT_EQ(RegisteredVersion(), "2816080");
}

TEST_F(RunOutcomeTest, AFailedDatabaseUpdateLeavesTheCommittedRunASuccess) {
  Package("2816090");
  machine.libraries.Add(std::string(kTestInstallDir) + "\\VarnoUpDate.dll").exports["VarnoTableInstall"] = [] {
    return 0x100u;
  };
  EXPECT_EQ(Run({"/quiet"}), ExitCode::kSuccess) << machine.Dump();
}

TEST_F(RunOutcomeTest, NoInstallationFound) {
  fake::WritePackageDescription(machine, "2816090");
  EXPECT_EQ(Run(), ExitCode::kNoInstallation) << "the directory dialog cancelled, then the error box";
  EXPECT_EQ(machine.dialogs.directoryDialogs, 1);

  machine.dialogs = {};
  machine.window = {};
  machine.files.MakeDirectory("C:\\Logs");
  EXPECT_EQ(Run({"/quiet", "/log=C:\\Logs\\varnolith.log"}), ExitCode::kNoInstallation);
  ExpectNothingShown();
  EXPECT_TRUE(Logged(kFleetLog, "Aucune installation de Varnolith trouvée"));
}

TEST_F(RunOutcomeTest, DirGivesTheInstallationInsteadOfTheDialog) {
  Package("2816090", "2816080", "C:\\Apps\\Varnolith");
  EXPECT_EQ(Run({"/quiet", "/dir=C:\\Apps\\Varnolith"}), ExitCode::kSuccess) << machine.Dump();
  ExpectNothingShown();
  EXPECT_EQ(machine.files.Content("C:\\Apps\\Varnolith\\Varnolith.exe"), "NEW");
}

TEST_F(RunOutcomeTest, AQuietRunAppliesThePackageUnseenAndLogsWhereAsked) {
  Package("2816090");
  machine.files.MakeDirectory("C:\\Logs");
  machine.files.AddFile(kFleetLog, "run before\r\nlast line without end");
  EXPECT_EQ(Run({"/quiet", "/log=" + std::string(kFleetLog)}), ExitCode::kSuccess);
  ExpectNothingShown();
  EXPECT_EQ(RegisteredVersion(), "2816090");
  EXPECT_EQ(machine.files.Content(std::string(kTestInstallDir) + "\\Data\\base.dat"), "D");
  const Lines log = Log(kFleetLog);
  ASSERT_GE(log.size(), 6u) << machine.Dump();
  EXPECT_EQ(Lines(log.begin(), log.begin() + 3), (Lines{"run before", "last line without end", "Mise à jour Varnolith"}));
  EXPECT_TRUE(Logged(kFleetLog, "Message (Confirmation) : Voulez-vous installer la mise à jour de Varnolith ?"));
  EXPECT_TRUE(Logged(kFleetLog, "Réponse automatique : OUI"));
  EXPECT_EQ(Lines(log.end() - 2, log.end()), (Lines{"Code de sortie : 0", "Fin contrôlée du programme de mise à jour"}));
  EXPECT_FALSE(machine.files.FileExists(kInstallLog)) << "the log stays where it was asked";

  // The same package again: a clean no-op, unless asked to reinstall.
  const std::string after = Installation();
  EXPECT_EQ(Run({"/quiet", "/log=" + std::string(kFleetLog)}), ExitCode::kSuccess);
  ExpectNothingShown();
  EXPECT_EQ(Installation(), after);
  EXPECT_TRUE(Logged(kFleetLog, "Réponse automatique : NON"));
  EXPECT_EQ(Log(kFleetLog).front(), "run before") << "every run appended";

  machine.files.AddFile(std::string(kTestInstallDir) + "\\Data\\base.dat", "changed");
  EXPECT_EQ(Run({"/quiet", "/reinstall", "/log=" + std::string(kFleetLog)}), ExitCode::kSuccess);
  EXPECT_EQ(machine.files.Content(std::string(kTestInstallDir) + "\\Data\\base.dat"), "D");
}

TEST_F(RunOutcomeTest, QuietRefusalsChangeNothing) {
  Package("2816090", "2816079");  // older than the package accepts
  machine.files.MakeDirectory("C:\\Logs");
  std::string before = Installation();
  EXPECT_EQ(Run({"/quiet", "/log=C:\\Logs\\varnolith.log"}), ExitCode::kFailed);
  ExpectNothingShown();
  EXPECT_EQ(Installation(), before);
  EXPECT_TRUE(Log(kFleetLog).at(2).starts_with("Message (Varnolith_maj_solo) : La version de Varnolith trouvée"))
      << testing::PrintToString(Log(kFleetLog));

  // A refused sub-directory archive: interactively the rest is applied and the code says
  // so; unattended the run is taken back.
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "2816080");
  machine.files.AddFile("C:\\Package\\data.slp", "not an archive");
  before = Installation();
  EXPECT_EQ(Run({"/quiet", "/log=C:\\Logs\\varnolith.log"}), ExitCode::kPackageUnusable);
  ExpectNothingShown();
  EXPECT_EQ(Installation(), before);
  EXPECT_TRUE(Logged(kFleetLog, "Archive non reconnue, la mise à jour est abandonnée : C:\\Package\\data.slp"));
  EXPECT_TRUE(Logged(kFleetLog, "Mise à jour annulée, installation restaurée"));

  machine.window.clickButton1InLoop = true;
  EXPECT_EQ(Run(), ExitCode::kPackageUnusable);
  EXPECT_EQ(machine.dialogs.shown.back().text, "Fichier archive non reconnu !");
  EXPECT_EQ(RegisteredVersion(), "2816090");
}

TEST_F(RunOutcomeTest, TheLogGivenIsMadeWhereAskedOrTheRunEndsWithNothingChanged) {
  Package("2816090");
  const std::string made = "C:\\ProgramData\\Tolmerik\\Journaux\\VarnoMaJLog.txt";
  EXPECT_EQ(Run({"/quiet", "/log=" + made}), ExitCode::kSuccess) << machine.Dump();
  EXPECT_TRUE(Logged(made, "Répertoire du journal créé : C:\\ProgramData\\Tolmerik\\Journaux"));
  EXPECT_EQ(Log(made).back(), "Fin contrôlée du programme de mise à jour");

  // Through a file: neither made nor written; a quiet run says nothing, an interactive one
  // says it in the error box, and both leave everything as it was.
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "2816080");
  machine.files.AddFile("C:\\Logs", "a file");
  const std::string before = Installation();
  EXPECT_EQ(Run({"/quiet", "/log=C:\\Logs\\varnolith.log"}), ExitCode::kLogUnwritable);
  ExpectNothingShown();
  EXPECT_EQ(Installation(), before);
  machine.window.clickButton1InLoop = true;
  EXPECT_EQ(Run({"/log=C:\\Logs\\varnolith.log"}), ExitCode::kLogUnwritable);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown[0].text, "Impossible de créer le fichier C:\\Logs\\varnolith.log.");
  EXPECT_EQ(Installation(), before);
}

TEST_F(RunOutcomeTest, ALogPathAnotherAccountCouldChangeIsRefusedBeforeAnything) {
  // Deployment tools log as SYSTEM under C:\ProgramData, where any user may make the
  // directories first.
  Package("2816090");
  using Owner = fake::MemoryFileSystem::Owner;
  const std::string dir = "C:\\ProgramData\\Tolmerik";
  const std::string log = dir + "\\VarnoMaJLog.txt";
  struct Plant {
    std::function<void()> make;
    std::string level;
    const char* reason;
  };
  const std::vector<Plant> plants = {
      {[&] { machine.files.SetOwner(dir, Owner::StandardUser, true); }, dir, "son propriétaire n'est pas un administrateur"},
      {[&] { machine.files.SetLinked(dir); }, dir, "lien ou fichier à plusieurs noms"},
      {[&] { machine.files.SetOwner(dir, Owner::Administrators, true); }, dir, "d'autres comptes peuvent le modifier"},
      {[&] { machine.files.SetLinked(log); }, log, "lien ou fichier à plusieurs noms"},
  };
  for (const Plant& plant : plants) {
    machine.files = fake::MemoryFileSystem();
    Package("2816090");
    machine.files.AddDirectory(dir);
    if (plant.level == log) machine.files.AddFile(log, "earlier\r\n");
    plant.make();
    const std::string before = Installation();
    machine.dialogs.shown.clear();
    machine.window.clickButton1InLoop = true;
    EXPECT_EQ(Run({"/log=" + log}), ExitCode::kLogUnwritable) << plant.level;
    ASSERT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
    EXPECT_EQ(machine.dialogs.shown[0].text,
              "Journal refusé : " + plant.level + " n'est pas sûr (" + plant.reason +
                  ") ; choisissez un emplacement que seuls les administrateurs peuvent modifier.");
    EXPECT_EQ(Installation(), before) << plant.level;
  }
}

TEST_F(RunOutcomeTest, AProfileWithoutDesktopNeedsNoBox) {
  // The SYSTEM account's profile has no desktop folder.
  Package("2816090");
  machine.shell.folders.clear();
  EXPECT_EQ(Run({"/quiet"}), ExitCode::kSuccess) << machine.Dump();
  ExpectNothingShown();
  EXPECT_EQ(Log(kInstallLog).back(), "Fin contrôlée du programme de mise à jour");
}

}  // namespace
}  // namespace varno
