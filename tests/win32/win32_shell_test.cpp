// Shortcuts through Wine's real shell link object, in the real desktop and Programs folders
// that the registry of a throwaway prefix names, for all users and for the current user.
#include <gtest/gtest.h>

#include "base/ansi_text.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "shortcuts/shell_link.h"
#include "shortcuts/shortcut_steps.h"
#include "support/memory_machine.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

using Names = std::vector<std::string>;

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

class Win32ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::string* folder : {&commonDesktop, &userDesktop, &commonPrograms, &userPrograms}) {
      ASSERT_TRUE(files.DirectoryExists(*folder)) << "no folder \"" << *folder << "\"";
    }
    ASSERT_NE(commonDesktop, userDesktop);
  }

  // The prefix is shared by the tests of this program: every shortcut and group made here
  // goes again.
  void TearDown() override {
    for (const std::string& folder : {commonDesktop, userDesktop}) {
      for (const std::string& name : ListDirectory(folder)) {
        if (name.size() > 4 && AsciiSameText(name.substr(name.size() - 4), ".lnk")) {
          DeleteFileA(JoinPath(folder, name).c_str());
        }
      }
    }
    for (const std::string& group : {JoinPath(commonPrograms, "Tolmerik"), JoinPath(userPrograms, "Tolmerik")}) {
      for (const std::string& name : ListDirectory(group)) DeleteFileA(JoinPath(group, name).c_str());
      RemoveDirectoryA(group.c_str());
    }
    EXPECT_TRUE(machine.dialogs.shown.empty()) << machine.Dump();
  }

  win32::ComApartment com;
  win32::Win32FileSystem files;
  win32::Win32Registry registry;
  win32::Win32Shell shell{nullptr};
  MemoryMachine machine;
  Platform platform{files,          registry,          shell,             machine.dialogs,
                    machine.window, machine.processes, machine.libraries, machine.system, machine.holders};
  ShellLink shellLink{platform};
  std::string commonDesktop = shellLink.ReadShellFolder(ShellFolder::Desktop, kAllUsers);
  std::string userDesktop = shellLink.ReadShellFolder(ShellFolder::Desktop, kCurrentUser);
  std::string commonPrograms = shellLink.ReadShellFolder(ShellFolder::Programs, kAllUsers);
  std::string userPrograms = shellLink.ReadShellFolder(ShellFolder::Programs, kCurrentUser);
};

TEST_F(Win32ShellTest, ShortcutsSavedByTheLinkObjectReadBackAsTheirTargets) {
  const Names targets = {"C:\\Produits\\Varnolith\\Varnolith.exe", "C:\\Program Files\\App\\Aide\\aide.exe",
                         "C:\\Données\\Été\\prêt€.exe"};
  for (size_t i = 0; i < targets.size(); ++i) {
    const std::string name = "Essai " + std::to_string(i);
    ASSERT_TRUE(shellLink.CreateDesktopLink(targets[i], "", name)) << targets[i];
    EXPECT_EQ(shellLink.DesktopFolder(), commonDesktop);
    EXPECT_EQ(shellLink.GetLinkTarget(JoinPath(commonDesktop, name + ".lnk")), targets[i]);
    std::string found;
    EXPECT_TRUE(shellLink.FindDesktopLink(AsciiLower(targets[i]), &found)) << targets[i];
    EXPECT_EQ(found, name + ".lnk");
  }

  ASSERT_TRUE(files.MakeDirectory(JoinPath(commonPrograms, "Tolmerik")));
  EXPECT_TRUE(shellLink.CreateDesktopLink(targets[0], "", ""));
  EXPECT_TRUE(shellLink.CreateProgramsLink(targets[0], "/maj", "", "Tolmerik"));
  EXPECT_TRUE(files.FileExists(JoinPath(commonDesktop, "Raccourci vers Varnolith.exe.lnk")));
  const std::string inGroup = JoinPath(commonPrograms, "Tolmerik\\Raccourci versVarnolith.exe.lnk");
  EXPECT_EQ(shellLink.GetLinkTarget(inGroup), targets[0]);
  EXPECT_TRUE(shellLink.ProgramsLinkExists("Tolmerik", "raccourci"));

  // The link object does not make the group's folder: the save fails.
  EXPECT_FALSE(shellLink.CreateProgramsLink(targets[0], "", "Absent", "Groupe inexistant"));
  EXPECT_FALSE(files.DirectoryExists(JoinPath(commonPrograms, "Groupe inexistant")));
}

TEST_F(Win32ShellTest, MjaShellLinkRenamesInTheFoldersOfBothScopes) {
  RunState state;
  state.installDir = "C:\\Produits\\Varnolith";
  state.versionLabel = "2.9";
  const std::string product = JoinPath(state.installDir, "Varnolith.exe");
  ASSERT_TRUE(files.MakeDirectory(JoinPath(commonPrograms, "Tolmerik")));
  ASSERT_TRUE(files.MakeDirectory(JoinPath(userPrograms, "Tolmerik")));
  shellLink.SetCommonDesktop();
  ASSERT_TRUE(shellLink.CreateDesktopLink(product, "", "Varnolith"));
  ASSERT_TRUE(shellLink.CreateDesktopLink("C:\\Autre\\autre.exe", "", "Autre"));
  shellLink.SetUserDesktop();
  ASSERT_TRUE(shellLink.CreateDesktopLink(product, "", "Mon Varnolith"));
  ASSERT_TRUE(shellLink.CreateDesktopLink("C:\\Autre\\autre.exe", "", "Varnolith 2.9"));
  shellLink.SetCommonPrograms();
  ASSERT_TRUE(shellLink.CreateProgramsLink(product, "", "Varnolith", "Tolmerik"));
  shellLink.SetUserPrograms();
  ASSERT_TRUE(shellLink.CreateProgramsLink(product, "", "Varnolith 2.8", "Tolmerik"));

  WriteLogList record;
  ShellLink run(platform);
  MjaShellLink(platform, state, record, run);

  EXPECT_EQ(Sorted(ListDirectory(commonDesktop)), (Names{"Autre.lnk", "Varnolith 2.9.lnk"}));
  EXPECT_EQ(Sorted(ListDirectory(userDesktop)), (Names{"Varnolith 2.9.lnk", "Varnolith 2.9~2.lnk"}));
  EXPECT_EQ(ListDirectory(JoinPath(commonPrograms, "Tolmerik")), Names{"Varnolith 2.9.lnk"});
  EXPECT_EQ(ListDirectory(JoinPath(userPrograms, "Tolmerik")), Names{"Varnolith 2.9.lnk"});
  EXPECT_EQ(run.GetLinkTarget(JoinPath(userDesktop, "Varnolith 2.9~2.lnk")), product);
  EXPECT_EQ(run.GetLinkTarget(JoinPath(commonPrograms, "Tolmerik\\Varnolith 2.9.lnk")), product);
  EXPECT_EQ(run.DesktopFolder(), userDesktop);
  EXPECT_EQ(run.ProgramsFolder(), userPrograms);
}

}  // namespace
}  // namespace varno::fake
