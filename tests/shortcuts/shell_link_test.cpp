// The shell link service on the in-memory machine: folders and their fallback, creation,
// the reading of targets with its messages, searches and renames.
#include "shortcuts/shell_link.h"

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
using fake::kTestUserPrograms;
using Names = std::vector<std::string>;

constexpr char kNotAShortcut[] = "Le fichier vis\xE9 n'est pas un raccourci Windows";
constexpr char kNotFound[] = "Raccourci non trouv\xE9 \xE0 l'endroit sp\xE9\x63ifi\xE9";

class ShellLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::AddShellFolders(machine); }

  // A shortcut as the shell would have saved it, working directory and all.
  void PutLink(const std::string& folder, const std::string& name, const std::string& target) {
    machine.files.AddFile(JoinPath(folder, name), fake::ShellLinkBytes({target, "", ""}));
  }
  Names Listed(const std::string& folder) { return machine.files.List(folder); }
  Names Boxes() {
    Names texts;
    for (const auto& box : machine.dialogs.shown) texts.push_back(box.text);
    return texts;
  }
  std::string TargetOf(const std::string& path) {
    return LinkTargetFromBytes(machine.files.Content(path).value_or(""));
  }

  fake::MemoryMachine machine;
  Platform platform = machine.platform();
  ShellLink shellLink{platform};
};

TEST_F(ShellLinkTest, FoldersStartEmptyAndFallBackToTheAllUsersFolders) {
  EXPECT_EQ(shellLink.DesktopFolder(), "");
  EXPECT_EQ(shellLink.ProgramsFolder(), "");
  EXPECT_TRUE(shellLink.CreateDesktopLink("C:\\App\\run.exe", "", "Run"));
  EXPECT_EQ(shellLink.DesktopFolder(), kTestCommonDesktop);
  EXPECT_EQ(Listed(kTestCommonDesktop), Names{"Run.lnk"});

  shellLink.SetUserDesktop();
  shellLink.SetUserPrograms();
  EXPECT_EQ(shellLink.DesktopFolder(), kTestDesktop);
  EXPECT_EQ(shellLink.ProgramsFolder(), kTestUserPrograms);

  // The user's Programs folder named in the registry, but missing on the disk.
  machine.files.AddDirectory(JoinPath(kTestCommonPrograms, "G"));
  machine.registry.PutString(kHkeyCurrentUser, kShellFoldersKey, "Programs", "C:\\Users\\Absent\\Programs");
  shellLink.SetUserPrograms();
  EXPECT_TRUE(shellLink.CreateProgramsLink("C:\\App\\run.exe", "", "Run", "G"));
  EXPECT_EQ(shellLink.ProgramsFolder(), kTestCommonPrograms);
  EXPECT_EQ(Listed(JoinPath(kTestCommonPrograms, "G")), Names{"Run.lnk"});
}

TEST_F(ShellLinkTest, AMissingOrNonStringUserValueLeadsToTheAllUsersDesktop) {
  fake::MemoryMachine bare;
  bare.registry.PutString(kHkeyLocalMachine, kShellFoldersKey, "Common Desktop", kTestCommonDesktop);
  bare.files.AddDirectory(kTestCommonDesktop);
  Platform barePlatform = bare.platform();
  ShellLink service(barePlatform);
  EXPECT_EQ(service.ReadShellFolder(ShellFolder::Desktop, kCurrentUser), "");
  service.SetUserDesktop();
  EXPECT_TRUE(service.CreateDesktopLink("C:\\App\\run.exe", "", "Run"));
  EXPECT_EQ(bare.files.List(kTestCommonDesktop), Names{"Run.lnk"});

  bare.registry.PutDword(kHkeyCurrentUser, kShellFoldersKey, "Desktop", 7);
  EXPECT_EQ(service.ReadShellFolder(ShellFolder::Desktop, kCurrentUser), "") << "no error raised";
  EXPECT_EQ(service.ReadShellFolder(ShellFolder::Desktop, kAllUsers), kTestCommonDesktop);
  EXPECT_EQ(bare.registry.OpenKeys(), 0u);
}

// Without any desktop folder in the registry, "\" + the name would land in the root of
// the current drive.
TEST_F(ShellLinkTest, NothingIsDoneWhereNoFolderIsKnownAtAll) {
  fake::MemoryMachine bare;
  Platform barePlatform = bare.platform();
  ShellLink service(barePlatform);
  bare.files.AddFile("C:\\Old.lnk", fake::ShellLinkBytes({"C:\\App\\run.exe", "", ""}));
  EXPECT_FALSE(service.CreateDesktopLink("C:\\App\\run.exe", "", "Run"));
  EXPECT_FALSE(service.CreateProgramsLink("C:\\App\\run.exe", "", "Run", ""));
  EXPECT_FALSE(service.RenameLinkOnDesktop("C:\\App\\run.exe", "New"));
  EXPECT_FALSE(service.ProgramsLinkExists("", "Old"));
  EXPECT_TRUE(bare.shell.saves.empty());
  EXPECT_TRUE(bare.files.FileExists("C:\\Old.lnk")) << bare.Dump();
}

TEST_F(ShellLinkTest, CreatedLinksTakeDefaultNamesAndTheTargetsDirectory) {
  machine.files.AddDirectory(JoinPath(kTestCommonPrograms, "G"));
  EXPECT_TRUE(shellLink.CreateDesktopLink("C:\\App\\run.exe", "", ""));
  EXPECT_TRUE(shellLink.CreateProgramsLink("C:\\App\\run.exe", "", "", "G"));
  EXPECT_TRUE(shellLink.CreateProgramsLink("C:\\App\\run.exe", "-x", "Top", ""));
  EXPECT_EQ(Listed(kTestCommonDesktop), Names{"Raccourci vers run.exe.lnk"});
  EXPECT_EQ(Listed(JoinPath(kTestCommonPrograms, "G")), Names{"Raccourci versrun.exe.lnk"});
  ASSERT_EQ(machine.shell.saves.size(), 3u);
  EXPECT_EQ(machine.shell.saves[0].link.workingDirectory, "C:\\App\\");
  EXPECT_EQ(machine.shell.saves[0].link.arguments, "");
  EXPECT_EQ(machine.shell.saves[2].link.arguments, "-x");
  EXPECT_EQ(machine.shell.saves[2].path, JoinPath(kTestCommonPrograms, "Top.lnk"));
  EXPECT_EQ(TargetOf(JoinPath(kTestCommonDesktop, "Raccourci vers run.exe.lnk")), "C:\\App\\run.exe");
}

TEST_F(ShellLinkTest, CreationFailsQuietlyWithoutTargetGroupFolderOrWritableFile) {
  EXPECT_FALSE(shellLink.CreateDesktopLink("", "", "Run"));
  EXPECT_TRUE(machine.shell.saves.empty()) << "an empty target never reaches the shell";
  EXPECT_FALSE(shellLink.CreateProgramsLink("C:\\App\\run.exe", "", "Run", "Missing"));
  EXPECT_FALSE(machine.files.DirectoryExists(JoinPath(kTestCommonPrograms, "Missing")));

  PutLink(kTestCommonDesktop, "Run.lnk", "C:\\Old\\old.exe");
  EXPECT_TRUE(shellLink.CreateDesktopLink("C:\\App\\run.exe", "", "Run")) << "an existing file is replaced";
  EXPECT_EQ(TargetOf(JoinPath(kTestCommonDesktop, "Run.lnk")), "C:\\App\\run.exe");
  machine.files.SetReadOnly(JoinPath(kTestCommonDesktop, "Run.lnk"));
  EXPECT_FALSE(shellLink.CreateDesktopLink("C:\\Other\\x.exe", "", "Run"));
  machine.shell.failSaves = true;
  EXPECT_FALSE(shellLink.CreateDesktopLink("C:\\App\\run.exe", "", "Other"));
  EXPECT_EQ(Listed(kTestCommonDesktop), Names{"Run.lnk"});
}

TEST_F(ShellLinkTest, ALinkObjectThatCannotBeCreatedRaises) {
  machine.shell.refuseLinkObject = true;
  try {
    shellLink.CreateDesktopLink("C:\\App\\run.exe", "", "Run");
    ADD_FAILURE() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible de cr\xE9" "er l'objet raccourci");
  }
  EXPECT_THROW(shellLink.CreateProgramsLink("C:\\App\\run.exe", "", "Run", ""), UpdateError);
  EXPECT_TRUE(Listed(kTestCommonDesktop).empty());
}

TEST_F(ShellLinkTest, NamesThatWouldLeaveTheirFolderCreateAndMoveNothing) {
  for (const std::string name : {"..\\Evil", "Sub\\..\\..\\Evil", "C:\\Evil", "\\Evil", "..", ". .\\Evil",
                                 "Evil:stream"}) {
    EXPECT_FALSE(shellLink.CreateDesktopLink("C:\\App\\run.exe", "", name)) << name;
    EXPECT_FALSE(shellLink.CreateProgramsLink("C:\\App\\run.exe", "", "Run", name)) << "group " << name;
  }
  EXPECT_TRUE(machine.shell.saves.empty());
  EXPECT_TRUE(StaysInFolder("Sub\\Run..lnk"));
  EXPECT_TRUE(StaysInFolder("Varnolith 2.9"));
  EXPECT_TRUE(StaysInFolder(""));

  PutLink(kTestCommonDesktop, "Varnolith.lnk", "C:\\App\\run.exe");
  shellLink.SetCommonDesktop();
  EXPECT_FALSE(shellLink.RenameLinkOnDesktop("C:\\App\\run.exe", "..\\Varnolith"));
  PutLink(JoinPath(kTestCommonPrograms, "Tolmerik"), "Varnolith.lnk", "C:\\App\\run.exe");
  EXPECT_FALSE(shellLink.RenameLinkInPrograms("Tolmerik", "Varnolith", "..\\..\\Varnolith"));
  EXPECT_EQ(Listed(kTestCommonDesktop), Names{"Varnolith.lnk"});
  EXPECT_EQ(Listed(JoinPath(kTestCommonPrograms, "Tolmerik")), Names{"Varnolith.lnk"});
}

TEST_F(ShellLinkTest, GetLinkTargetNamesWhatIsNotAShortcut) {
  PutLink(kTestCommonDesktop, "notes.txt", "C:\\App\\run.exe");
  EXPECT_EQ(shellLink.GetLinkTarget(""), "");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(shellLink.GetLinkTarget(JoinPath(kTestCommonDesktop, "notes.txt")), "");
  EXPECT_EQ(shellLink.GetLinkTarget(JoinPath(kTestCommonDesktop, "ABSENT.LNK")), "");
  machine.files.AddDirectory(JoinPath(kTestCommonDesktop, "Dossier.lnk"));
  EXPECT_EQ(shellLink.GetLinkTarget(JoinPath(kTestCommonDesktop, "Dossier.lnk")), "");
  EXPECT_EQ(Boxes(), (Names{kNotAShortcut, kNotFound, kNotFound}));
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Message);
  EXPECT_EQ(machine.dialogs.shown[0].title, "Varnolith_maj_solo");
}

TEST_F(ShellLinkTest, GetLinkTargetGivesNothingSilentlyForWhatItCannotRead) {
  const std::string upper = JoinPath(kTestCommonDesktop, "RUN.LNK");
  PutLink(kTestCommonDesktop, "RUN.LNK", "C:\\App\\run.exe");
  EXPECT_EQ(shellLink.GetLinkTarget(upper), "C:\\App\\run.exe") << "the extension ignores case";

  std::string digit = fake::ShellLinkBytes({"C:\\App\\run.exe", "", ""});
  digit[fake::kLinkDriveLetterOffset] = '0';
  machine.files.AddFile(JoinPath(kTestCommonDesktop, "digit.lnk"), digit);
  EXPECT_EQ(shellLink.GetLinkTarget(JoinPath(kTestCommonDesktop, "digit.lnk")), "");

  machine.files.SetInUse(upper);
  EXPECT_EQ(shellLink.GetLinkTarget(upper), "") << "cannot be opened";

  // Whole files are read; a mebibyte and more is no shortcut and is not read at all.
  std::string huge = fake::ShellLinkBytes({"C:\\App\\run.exe", "", ""});
  huge.resize((1u << 20) + 1, 'x');
  machine.files.AddFile(JoinPath(kTestCommonDesktop, "huge.lnk"), huge);
  EXPECT_EQ(shellLink.GetLinkTarget(JoinPath(kTestCommonDesktop, "huge.lnk")), "");
  huge.resize(1u << 20);
  machine.files.AddFile(JoinPath(kTestCommonDesktop, "big.lnk"), huge);
  EXPECT_EQ(shellLink.GetLinkTarget(JoinPath(kTestCommonDesktop, "big.lnk")), "C:\\App\\run.exe");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ShellLinkTest, FindDesktopLinkFoldsOnlyAsciiLettersAndTakesTheFirstListed) {
  PutLink(kTestCommonDesktop, "B.lnk", "C:\\Program Files\\App\\run.exe");
  PutLink(kTestCommonDesktop, "A.lnk", "C:\\Program Files\\App\\run.exe");
  PutLink(kTestCommonDesktop, "Donnees.lnk", "C:\\Données\\run.exe");
  machine.files.AddFile(JoinPath(kTestCommonDesktop, "C.txt"), "not listed");
  shellLink.SetCommonDesktop();
  std::string found = "sentinel";
  EXPECT_TRUE(shellLink.FindDesktopLink("c:\\program files\\app\\RUN.EXE", &found));
  EXPECT_EQ(found, "A.lnk");
  EXPECT_TRUE(shellLink.FindDesktopLink("C:\\DONNéES\\RUN.EXE", &found));
  EXPECT_EQ(found, "Donnees.lnk");
  found = "sentinel";
  EXPECT_FALSE(shellLink.FindDesktopLink("C:\\DonnÉes\\run.exe", &found)) << "É is not é here";
  EXPECT_EQ(found, "");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ShellLinkTest, FindDesktopLinkShowsTheMessagesOfOddEntriesAndGoesOn) {
  machine.files.AddDirectory(JoinPath(kTestCommonDesktop, "Dossier.lnk"));
  PutLink(kTestCommonDesktop, "Z.lnk", "C:\\App\\run.exe");
  shellLink.SetCommonDesktop();
  std::string found;
  EXPECT_TRUE(shellLink.FindDesktopLink("C:\\App\\run.exe", &found));
  EXPECT_EQ(found, "Z.lnk");
  EXPECT_EQ(Boxes(), Names{kNotFound});
}

TEST_F(ShellLinkTest, ProgramsLinkExistsWhenTheFirstMatchIsAFile) {
  const std::string group = JoinPath(kTestCommonPrograms, "Tolmerik");
  machine.files.AddDirectory(JoinPath(group, "Varnolith A.lnk"));
  PutLink(group, "Varnolith B.lnk", "C:\\App\\run.exe");
  EXPECT_FALSE(shellLink.ProgramsLinkExists("Tolmerik", "Varnolith")) << "a directory is listed first";
  EXPECT_TRUE(shellLink.ProgramsLinkExists("Tolmerik", "varnolith b"));
  EXPECT_FALSE(shellLink.ProgramsLinkExists("Tolmerik", "")) << "the empty prefix meets the directory first";
  PutLink(JoinPath(kTestCommonPrograms, "Autre"), "Outil.lnk", "C:\\App\\run.exe");
  EXPECT_TRUE(shellLink.ProgramsLinkExists("Autre", "")) << "the empty prefix takes any shortcut";
  EXPECT_FALSE(shellLink.ProgramsLinkExists("Tolmerik", "Aide"));
  EXPECT_FALSE(shellLink.ProgramsLinkExists("Absent", ""));
  EXPECT_EQ(shellLink.FirstMatchName(JoinPath(group, "*")), "Varnolith A.lnk");
  EXPECT_EQ(shellLink.FirstMatchName(JoinPath(group, "*.txt")), "");
}

TEST_F(ShellLinkTest, RenameOnTheDesktopTakesTheFirstFreeSuffix) {
  PutLink(kTestCommonDesktop, "Old.lnk", "C:\\App\\run.exe");
  PutLink(kTestCommonDesktop, "New.lnk", "C:\\Other\\a.exe");
  PutLink(kTestCommonDesktop, "New~2.lnk", "C:\\Other\\b.exe");
  shellLink.SetCommonDesktop();
  EXPECT_TRUE(shellLink.RenameLinkOnDesktop("C:\\App\\run.exe", "New"));
  EXPECT_EQ(Listed(kTestCommonDesktop), (Names{"New.lnk", "New~2.lnk", "New~3.lnk"}));
  EXPECT_EQ(TargetOf(JoinPath(kTestCommonDesktop, "New~3.lnk")), "C:\\App\\run.exe");

  // The found shortcut already bears the name, whatever the case of its letters.
  EXPECT_FALSE(shellLink.RenameLinkOnDesktop("C:\\Other\\a.exe", "NEW"));
  EXPECT_FALSE(shellLink.RenameLinkOnDesktop("C:\\Other\\b.exe", ""));
  EXPECT_FALSE(shellLink.RenameLinkOnDesktop("C:\\Nowhere\\x.exe", "Newest"));
  machine.files.SetInUse(JoinPath(kTestCommonDesktop, "New~3.lnk"));
  EXPECT_FALSE(shellLink.RenameLinkOnDesktop("C:\\App\\run.exe", "Newest")) << "found, then the move fails";
  EXPECT_EQ(Listed(kTestCommonDesktop), (Names{"New.lnk", "New~2.lnk", "New~3.lnk"}));
}

TEST_F(ShellLinkTest, RenameInProgramsLooksAtTheFirstMatchOnly) {
  const std::string group = JoinPath(kTestCommonPrograms, "Tolmerik");
  PutLink(group, "Varnolith 2.9.lnk", "C:\\App\\a.exe");
  PutLink(group, "Varnolith Aide.lnk", "C:\\App\\b.exe");
  EXPECT_FALSE(shellLink.RenameLinkInPrograms("Tolmerik", "Varnolith", "varnolith 2.9"));
  EXPECT_EQ(Listed(group), (Names{"Varnolith 2.9.lnk", "Varnolith Aide.lnk"}));

  EXPECT_TRUE(shellLink.RenameLinkInPrograms("Tolmerik", "Varnolith", "Varnolith Z"));
  EXPECT_EQ(Listed(group), (Names{"Varnolith Aide.lnk", "Varnolith Z.lnk"}));
  EXPECT_TRUE(shellLink.RenameLinkInPrograms("Tolmerik", "Varnolith", "Varnolith Z"));
  EXPECT_EQ(Listed(group), (Names{"Varnolith Z.lnk", "Varnolith Z~2.lnk"}))
      << "the renamed shortcut now lists after the other, which takes the name with a suffix";

  EXPECT_FALSE(shellLink.RenameLinkInPrograms("Absent", "Varnolith", "X"));
  machine.files.AddDirectory(JoinPath(group, "Aide.lnk"));
  EXPECT_FALSE(shellLink.RenameLinkInPrograms("Tolmerik", "Aide", "X")) << "a directory is no shortcut";
}

}  // namespace
}  // namespace varno
