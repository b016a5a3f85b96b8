// The shortcut steps on the in-memory machine: the renames after the version label, and the
// shortcuts of "[desk]" and "[programs]" with what the uninstall record gains.
#include "shortcuts/shortcut_steps.h"

#include <gtest/gtest.h>

#include "base/ansi_text.h"
#include "base/update_error.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"
#include "support/shell_link_bytes.h"

namespace varno {
namespace {

using fake::kShellFoldersKey;
using fake::kTestCommonDesktop;
using fake::kTestCommonPrograms;
using fake::kTestDesktop;
using fake::kTestInstallDir;
using fake::kTestUserPrograms;
using Names = std::vector<std::string>;

const std::string kProduct = JoinPath(kTestInstallDir, "Varnolith.exe");
const std::string kCommonGroup = JoinPath(kTestCommonPrograms, "Tolmerik");
const std::string kUserGroup = JoinPath(kTestUserPrograms, "Tolmerik");

class ShortcutStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::AddShellFolders(machine);
    state.packageDir = fake::kTestPackageDir;
    state.packageDescriptionPath = JoinPath(fake::kTestPackageDir, "MjaIni.ini");
    state.installDir = kTestInstallDir;
    state.versionLabel = "2.9";
  }

  // One run of AddShellLink with a service of its own, as the driver makes one per run.
  void AddLinks() {
    ShellLink shellLink(platform);
    AddShellLink(platform, state, record, shellLink);
  }
  void Rename() {
    ShellLink shellLink(platform);
    MjaShellLink(platform, state, record, shellLink);
  }
  void Describe(const std::string& sections) { fake::WritePackageDescription(machine, "2816090", sections); }

  void PutLink(const std::string& folder, const std::string& name, const std::string& target) {
    machine.files.AddFile(JoinPath(folder, name), fake::ShellLinkBytes({target, "", ""}));
  }
  Names Listed(const std::string& folder) { return machine.files.List(folder); }
  std::string TargetOf(const std::string& folder, const std::string& name) {
    return LinkTargetFromBytes(machine.files.Content(JoinPath(folder, name)).value_or(""));
  }
  std::string State() {
    std::string out = "--- record\n";
    for (const auto& line : record.Lines()) out += line + "\n";
    return out + machine.Dump();
  }

  fake::MemoryMachine machine;
  Platform platform = machine.platform();
  RunState state;
  WriteLogList record;
};

TEST(ShortcutEntries, SplitAtTheFirstColonAndSemicolon) {
  const auto desk = [](std::string_view line) {
    const LinkEntry entry = ParseDeskEntry(line);
    return entry.target + "|" + entry.name;
  };
  EXPECT_EQ(desk(" Admin\\Outil.exe :  Outil Varnolith \t"), "Admin\\Outil.exe|Outil Varnolith");
  EXPECT_EQ(desk("a.exe:b:c"), "a.exe|b:c");
  EXPECT_EQ(desk("  Sans deux-points "), "|Sans deux-points");
  EXPECT_EQ(desk("a.exe :"), "a.exe|");

  const auto programs = [](std::string_view line) {
    const LinkEntry entry = ParseProgramsEntry(line);
    return entry.target + "|" + entry.name + "|" + entry.group;
  };
  EXPECT_EQ(programs("Varnolith.exe : Varnolith ; Tolmerik\\Outils "), "Varnolith.exe|Varnolith|Tolmerik\\Outils");
  EXPECT_EQ(programs(" Nom ; Groupe"), "|Nom|Groupe");
  EXPECT_EQ(programs("x.exe : Nom "), "x.exe||x.exe : Nom");
  EXPECT_EQ(programs("a;b : c"), "a;b||b : c") << "a \";\" before the \":\"";
  EXPECT_EQ(programs("x.exe :; G"), "x.exe||G");
}

TEST_F(ShortcutStepsTest, MjaShellLinkRenamesInTheFourFoldersInTurn) {
  PutLink(kTestCommonDesktop, "Varnolith.lnk", kProduct);
  PutLink(kTestCommonDesktop, "Autre.lnk", "C:\\Autre\\autre.exe");
  // "Varnolith Aide" lists before "Varnolith": the first match is the one renamed.
  PutLink(kCommonGroup, "Varnolith Aide.lnk", JoinPath(kTestInstallDir, "Aide.exe"));
  PutLink(kCommonGroup, "Varnolith.lnk", kProduct);
  PutLink(kTestDesktop, "Mon Varnolith.lnk", "C:\\PROGRAM FILES\\tolmerik\\varnolith\\VARNOLITH.EXE");
  PutLink(kUserGroup, "Varnolith 2.8.lnk", kProduct);
  Rename();
  EXPECT_EQ(Listed(kTestCommonDesktop), (Names{"Autre.lnk", "Varnolith 2.9.lnk"})) << State();
  EXPECT_EQ(Listed(kCommonGroup), (Names{"Varnolith 2.9.lnk", "Varnolith.lnk"}));
  EXPECT_EQ(TargetOf(kCommonGroup, "Varnolith 2.9.lnk"), JoinPath(kTestInstallDir, "Aide.exe"));
  EXPECT_EQ(Listed(kTestDesktop), Names{"Varnolith 2.9.lnk"});
  EXPECT_EQ(Listed(kUserGroup), Names{"Varnolith 2.9.lnk"});
  EXPECT_TRUE(record.Lines().empty());

  Rename();
  EXPECT_EQ(Listed(kCommonGroup), (Names{"Varnolith 2.9.lnk", "Varnolith.lnk"})) << "the first match bears the name";
  EXPECT_EQ(Listed(kTestCommonDesktop), (Names{"Autre.lnk", "Varnolith 2.9.lnk"}));
}

TEST_F(ShortcutStepsTest, MjaShellLinkRenamesInTheAllUsersFoldersTwiceForAUserWithoutFolders) {
  machine.registry.PutString(kHkeyCurrentUser, kShellFoldersKey, "Desktop", "C:\\Users\\Absent\\Desktop");
  machine.registry.PutString(kHkeyCurrentUser, kShellFoldersKey, "Programs", "C:\\Users\\Absent\\Programs");
  PutLink(kTestCommonDesktop, "Varnolith.lnk", kProduct);
  PutLink(kCommonGroup, "Varnolith 1.lnk", kProduct);
  PutLink(kCommonGroup, "Varnolith 10.lnk", JoinPath(kTestInstallDir, "Aide.exe"));
  Rename();
  EXPECT_EQ(Listed(kTestCommonDesktop), Names{"Varnolith 2.9.lnk"}) << State();
  // The second pass meets "Varnolith 10" first, now that "Varnolith 1" is "Varnolith 2.9".
  EXPECT_EQ(Listed(kCommonGroup), (Names{"Varnolith 2.9.lnk", "Varnolith 2.9~2.lnk"}));
  EXPECT_EQ(TargetOf(kCommonGroup, "Varnolith 2.9~2.lnk"), JoinPath(kTestInstallDir, "Aide.exe"));
}

TEST_F(ShortcutStepsTest, MjaShellLinkWithAnEmptyLabelNamesTheShortcutsWithATrailingBlank) {
  state.versionLabel = "";
  PutLink(kTestCommonDesktop, "Varnolith.lnk", kProduct);
  PutLink(kCommonGroup, "Varnolith.lnk", kProduct);
  Rename();
  EXPECT_EQ(Listed(kTestCommonDesktop), Names{"Varnolith .lnk"});
  EXPECT_EQ(Listed(kCommonGroup), Names{"Varnolith .lnk"});
}

TEST_F(ShortcutStepsTest, AddShellLinkDoesNothingWithoutADescriptionOrADeskSection) {
  record.Append("[SurFile]");
  AddLinks();
  EXPECT_EQ(record.Lines(), Names{"[SurFile]"});

  Describe("[programs]\r\nVarnolith.exe : Varnolith ; Tolmerik\r\n");
  machine.files.AddDirectory(kCommonGroup);
  AddLinks();
  EXPECT_EQ(record.Lines(), Names{"[SurFile]"}) << State();
  EXPECT_TRUE(machine.shell.saves.empty());
}

TEST_F(ShortcutStepsTest, ADescriptionThatCannotBeReadRaises) {
  Describe("[desk]\r\nVarnolith.exe : Varnolith\r\n");
  machine.files.SetInUse(state.packageDescriptionPath);
  try {
    AddLinks();
    ADD_FAILURE() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible d'ouvrir le fichier C:\\Package\\MjaIni.ini");
  }
  EXPECT_TRUE(record.Lines().empty());
}

TEST_F(ShortcutStepsTest, AnEmptyDeskSectionStillPlacesItsHeader) {
  Describe("[desk]\r\n[reg]\r\nA: string; b\r\n");
  AddLinks();
  EXPECT_EQ(record.Lines(), Names{"[SurDeskLink]"});
  Describe("[desk]");
  AddLinks();
  EXPECT_EQ(record.Lines(), Names{"[SurDeskLink]"});
}

// Every rule of both sections in one package: the shortcuts found already, the default name,
// blank lines, missing groups, nested groups, and the record in the reverse order.
const char kSections[] =
    "[Desk]\r\n"
    "Admin\\Outil.exe : Outil Varnolith\r\n"
    "\r\n"
    "Varnolith.exe : Autre nom\r\n"
    "AdminVarnolith.exe :\r\n"
    "   \t\r\n"
    "Sans deux-points\r\n"
    "Aide.exe : ..\\Ailleurs\r\n"
    "[programs]\r\n"
    "AdminVarnolith.exe : Administration ; Tolmerik\r\n"
    "Varnolith.exe : Varnolith ; Tolmerik\r\n"
    "Varnolith.exe : Absent ; Groupe inexistant\r\n"
    "Varnolith.exe : Sans point-virgule\r\n"
    "\r\n"
    "Aide.exe : Aide ; Tolmerik\\Outils";

class AddShellLinkTest : public ShortcutStepsTest {
 protected:
  void SetUp() override {
    ShortcutStepsTest::SetUp();
    Describe(kSections);
    machine.files.AddDirectory(JoinPath(kCommonGroup, "Outils"));
    PutLink(kTestDesktop, "Mon Varnolith.lnk", kProduct);
    PutLink(kUserGroup, "Varnolith 2.8.lnk", kProduct);
    for (const char* line : {"[SurFile]", "old.dll", "[****]"}) record.Append(line);
  }
};

TEST_F(AddShellLinkTest, CreatesWhatNoFolderHoldsAndRecordsTheNamesTheShortcutsTook) {
  AddLinks();
  EXPECT_EQ(record.Lines(), (Names{"[SurFile]", "old.dll", "[****]", "[SurDeskLink]", "Sans deux-points",
                                   "Raccourci vers AdminVarnolith.exe", "Outil Varnolith", "[SurProgramsLink]",
                                   "Aide", "Administration"}))
      << State();
  EXPECT_EQ(Listed(kTestCommonDesktop),
            (Names{"Outil Varnolith.lnk", "Raccourci vers AdminVarnolith.exe.lnk", "Sans deux-points.lnk"}));
  EXPECT_EQ(TargetOf(kTestCommonDesktop, "Outil Varnolith.lnk"), JoinPath(kTestInstallDir, "Admin\\Outil.exe"));
  EXPECT_EQ(machine.shell.saves[2].link.target, std::string(kTestInstallDir) + "\\") << "the directory itself";
  EXPECT_EQ(Listed(kCommonGroup), (Names{"Administration.lnk", "Outils"}));
  EXPECT_EQ(Listed(JoinPath(kCommonGroup, "Outils")), Names{"Aide.lnk"});
  EXPECT_EQ(Listed(kTestDesktop), Names{"Mon Varnolith.lnk"});
  EXPECT_EQ(Listed(kUserGroup), Names{"Varnolith 2.8.lnk"});
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(AddShellLinkTest, TheSamePackageAgainRecordsNothingNew) {
  AddLinks();
  const Names firstRecord = record.Lines();
  const size_t firstSaves = machine.shell.saves.size();
  AddLinks();
  EXPECT_EQ(record.Lines(), firstRecord) << State();
  // The shortcut to the installation directory is saved again: its target ends in "\",
  // which the reading of targets never takes, so no search finds it. The entry of the missing
  // group is tried again, and fails again.
  ASSERT_EQ(machine.shell.saves.size(), firstSaves + 2);
  EXPECT_EQ(machine.shell.saves[firstSaves].path, JoinPath(kTestCommonDesktop, "Sans deux-points.lnk"));
  EXPECT_EQ(machine.shell.saves[firstSaves + 1].path,
            JoinPath(kTestCommonPrograms, "Groupe inexistant\\Absent.lnk"));
}

TEST_F(AddShellLinkTest, ADeskEntryIsNotCreatedWhenEitherDesktopHasItsTargetUnderAnyName) {
  PutLink(kTestCommonDesktop, "Mon outil.lnk", JoinPath(kTestInstallDir, "ADMIN\\outil.exe"));
  PutLink(kTestDesktop, "Admin.lnk", JoinPath(kTestInstallDir, "AdminVarnolith.exe"));
  AddLinks();
  EXPECT_EQ(Listed(kTestCommonDesktop), (Names{"Mon outil.lnk", "Sans deux-points.lnk"})) << State();
  EXPECT_EQ(record.Lines()[4], "Sans deux-points");
  EXPECT_EQ(record.Lines()[5], "[SurProgramsLink]");
}

TEST_F(AddShellLinkTest, AnErrorOfTheLinkObjectEndsTheStep) {
  machine.shell.refuseLinkObject = true;
  EXPECT_THROW(AddLinks(), UpdateError);
  EXPECT_TRUE(Listed(kTestCommonDesktop).empty());
  EXPECT_EQ(record.Lines().back(), "[SurDeskLink]");
}

}  // namespace
}  // namespace varno
