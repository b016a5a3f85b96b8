// Installation discovery, version record, rights test and platform check against the real
// registry, disk and version resources of a throwaway Wine prefix.
#include <gtest/gtest.h>

#include "base/ansi_text.h"
#include "base/update_error.h"
#include "platform/registry_access.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_libraries.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_system.h"
#include "installation/install_rights.h"
#include "installation/installation.h"
#include "installation/platform_check.h"
#include "support/memory_machine.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

const std::string kSamples = WithoutTrailingBackslash(VARNO_SAMPLES_DIR);

// Every service the installation check uses is real; no box and no dialog is expected.
class Win32TargetTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(machine.dialogs.shown.empty()) << machine.Dump();
    EXPECT_EQ(machine.dialogs.directoryDialogs, 0);
    RegistryAccess access(registry);
    access.SetRootKey(kHkeyLocalMachine);
    access.DeleteKey("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Varnolith.exe");
    access.DeleteKey("Software\\Tolmerik\\Varnolith");
    access.DeleteKey("Software\\Tolmerik");
  }

  void InstallInScratch(const std::string& version) {
    for (const char* file : {"Varnolith.exe", "AdminVarnolith.exe", "Admin.dll"}) {
      ASSERT_TRUE(CopyFileA(JoinPath(kSamples, file).c_str(), scratch.In(file).c_str(), FALSE)) << file;
    }
    RegistryAccess access(registry);
    access.SetRootKey(kHkeyLocalMachine);
    ASSERT_TRUE(access.OpenKey("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Varnolith.exe", true));
    access.WriteString("Path", scratch.Path() + "\\");
    ASSERT_TRUE(access.OpenKey("\\Software\\Tolmerik\\Varnolith", true));
    access.WriteString("Version", version);
  }

  ScratchDirectory scratch;
  win32::Win32FileSystem files;
  win32::Win32Registry registry;
  win32::Win32System system;
  win32::Win32Libraries libraries;
  MemoryMachine machine;
  Platform platform{files,          registry,          machine.shell, machine.dialogs,
                    machine.window, machine.processes, libraries,     system, machine.holders};
};

TEST_F(Win32TargetTest, ReadsTheFixedVersionOfAProgram) {
  const FileVersionWords version = ReadFileVersion(platform, JoinPath(kSamples, "Varnolith.exe"));
  EXPECT_EQ(version.mostSignificant, 0x00020008u);
  EXPECT_EQ(version.leastSignificant, 0x00030001u);
  EXPECT_EQ(FileVersionNumberOf(version), 28);
  const FileVersionWords none = ReadFileVersion(platform, JoinPath(kSamples, "Action.exe"));
  EXPECT_EQ(none.mostSignificant, 0u);
  EXPECT_EQ(none.leastSignificant, 0u);
  EXPECT_EQ(ReadFileVersion(platform, scratch.In("absent.exe")).mostSignificant, 0u);
}

TEST_F(Win32TargetTest, FindsTheInstallationAndRecordsTheNewVersion) {
  InstallInScratch("2816080");
  WriteBytes(scratch.In("MjaIni.ini"), "titre\r\n2816090\r\n");
  RunState state;
  state.packageDescriptionPath = scratch.In("MjaIni.ini");
  EXPECT_TRUE(ValidControl(platform, state));
  EXPECT_TRUE(AnsiSameText(state.installDir, scratch.Path())) << state.installDir;
  EXPECT_EQ(state.installedVersion, "2816080");
  EXPECT_EQ(state.fileVersionNumber, 28);

  WritePckname(platform, state);
  RegistryAccess access(registry);
  access.SetRootKey(kHkeyLocalMachine);
  access.SetAccess(kKeyRead);
  ASSERT_TRUE(access.OpenKey("Software\\Tolmerik\\Varnolith", false));
  EXPECT_EQ(access.ReadString("Version"), "2816090");
}

TEST_F(Win32TargetTest, AVersionOfAnotherTypeRaisesTheTypeError) {
  InstallInScratch("2816080");
  {
    RegistryAccess access(registry);
    access.SetRootKey(kHkeyLocalMachine);
    ASSERT_TRUE(access.OpenKey("Software\\Tolmerik\\Varnolith", false));
    access.WriteInteger("Version", 2816080);
  }
  RunState state;
  try {
    FindInstallation(platform, state);
    ADD_FAILURE() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_STREQ(error.what(), "Type de donn\xE9" "es incorrect pour 'Version'");
  }
}

TEST_F(Win32TargetTest, TheRightsTestPassesAndLeavesNoTrace) {
  const auto family = CheckPlatform(machine.dialogs, system);
  ASSERT_TRUE(family.has_value());
  EXPECT_EQ(RightsScore(registry, *family), 4095u);
  for (RegKey root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    RegKey key = 0;
    EXPECT_EQ(registry.OpenKey(root, "SOFTWARE\\DeleteMe", kKeyRead, false, &key), kRegNotFound);
  }
}

TEST_F(Win32TargetTest, ALeftoverTestKeyDoesNotStopTheRightsTest) {
  for (RegKey root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    RegKey key = 0;
    ASSERT_EQ(registry.OpenKey(root, "SOFTWARE\\DeleteMe", kKeyAllAccess, true, &key), kRegSuccess);
    registry.SetValue(key, "EraseMe", kRegSz, std::string("ancien\0", 7));
    registry.CloseKey(key);
  }
  EXPECT_TRUE(HasInstallRights(registry, *CheckPlatform(machine.dialogs, system)));
  RegKey key = 0;
  EXPECT_EQ(registry.OpenKey(kHkeyCurrentUser, "SOFTWARE\\DeleteMe", kKeyRead, false, &key), kRegNotFound);
}

}  // namespace
}  // namespace varno::fake
