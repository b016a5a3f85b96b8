#include "installation/installation.h"

#include <gtest/gtest.h>

#include "base/update_error.h"
#include "support/memory_machine.h"

namespace varno {
namespace {

using fake::MemoryMachine;

constexpr char kAppPaths[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Varnolith.exe";
constexpr char kProductKey[] = "Software\\Tolmerik\\Varnolith";
constexpr char kStandardDir[] = "C:\\Program Files\\TolMerik\\Varnolith";
constexpr char kTooOldStart[] = "La version de Varnolith trouvée sur cet ordinateur est trop ancienne\r";

class InstallationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.files.AddFile("C:\\Package\\MjaIni.ini", "titre\r\n2816090\r\n");
    state.packageDir = "C:\\Package";
    state.packageDescriptionPath = "C:\\Package\\MjaIni.ini";
  }

  // A complete installation at dir, version 2.8, registered in App Paths when asked.
  void Install(const std::string& dir, const std::string& version = "2816080", bool appPaths = true) {
    for (const char* file : {"Varnolith.exe", "AdminVarnolith.exe", "Admin.dll"}) {
      machine.files.AddFile(dir + "\\" + file, "MZ");
    }
    machine.system.SetFileVersion(dir + "\\Varnolith.exe", 2, 8, 3, 1);
    machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", version);
    if (appPaths) machine.registry.PutString(kHkeyLocalMachine, kAppPaths, "Path", dir);
  }

  bool Valid() {
    Platform platform = machine.platform();
    return ValidControl(platform, state);
  }

  std::string Error(const std::function<void()>& action) {
    try {
      action();
    } catch (const UpdateError& error) {
      return error.what();
    }
    return "<no error>";
  }

  MemoryMachine machine;
  RunState state;
};

TEST_F(InstallationTest, FindsTheInstallationThroughAppPaths) {
  Install("D:\\Apps\\Varnolith");
  EXPECT_TRUE(Valid()) << machine.Dump();
  EXPECT_EQ(state.installDir, "D:\\Apps\\Varnolith");
  EXPECT_EQ(state.installedVersion, "2816080");
  EXPECT_EQ(state.newVersion, "2816090");
  EXPECT_EQ(state.fileVersionNumber, 28);
  EXPECT_TRUE(machine.dialogs.shown.empty());
  EXPECT_EQ(machine.dialogs.directoryDialogs, 0);
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(InstallationTest, AnAppPathWithTrailingBackslashLosesIt) {
  Install("D:\\Apps\\Varnolith");
  machine.registry.PutString(kHkeyLocalMachine, kAppPaths, "Path", "D:\\Apps\\Varnolith\\");
  EXPECT_TRUE(Valid());
  EXPECT_EQ(state.installDir, "D:\\Apps\\Varnolith");
}

TEST_F(InstallationTest, AnIncompleteInstallationIsKeptButNotValid) {
  Install("D:\\Apps\\Varnolith");
  machine.files.RemoveFile("D:\\Apps\\Varnolith\\AdminVarnolith.exe");
  EXPECT_FALSE(Valid());
  EXPECT_EQ(state.installDir, "D:\\Apps\\Varnolith");
  EXPECT_EQ(state.installedVersion, "2816080");
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(InstallationTest, FallsBackToTheStandardDirectoriesOfTheWindowsDrive) {
  machine.system.windowsDirectory = "E:\\WINNT";
  machine.files.AddDirectory("E:\\WINNT");
  Install("E:\\Program Files (x86)\\TolMerik\\Varnolith", "2816080", false);
  machine.files.AddDirectory(kStandardDir);  // on C:, which is not the Windows drive here
  EXPECT_TRUE(Valid()) << machine.Dump();
  EXPECT_EQ(state.installDir, "E:\\Program Files (x86)\\TolMerik\\Varnolith");

  machine.files.AddDirectory("E:\\Program Files\\TolMerik\\Varnolith");  // the first one wins
  Platform platform = machine.platform();
  EXPECT_EQ(GuessInstallDir(platform), "E:\\Program Files\\TolMerik\\Varnolith");
}

TEST_F(InstallationTest, AnAppPathToAMissingDirectoryFallsBackToo) {
  Install(kStandardDir);
  machine.registry.PutString(kHkeyLocalMachine, kAppPaths, "Path", "D:\\Gone");
  EXPECT_TRUE(Valid());
  EXPECT_EQ(state.installDir, kStandardDir);
}

TEST_F(InstallationTest, AsksTheUserWhenNothingIsFound) {
  Install("F:\\Ailleurs\\Varno", "2816080", false);
  machine.dialogs.selectedDirectory = "F:\\Ailleurs\\Varno\\";
  EXPECT_TRUE(Valid());
  EXPECT_EQ(machine.dialogs.directoryDialogs, 1);
  EXPECT_EQ(state.installDir, "F:\\Ailleurs\\Varno");
}

TEST_F(InstallationTest, ACancelledDialogLeavesEverythingEmpty) {
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "2816080");
  EXPECT_FALSE(Valid());
  EXPECT_EQ(machine.dialogs.directoryDialogs, 1);
  EXPECT_EQ(state.installDir, "");
  EXPECT_EQ(state.installedVersion, "");
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(InstallationTest, ADirectoryOfLessThanThreeCharactersIsNoInstallation) {
  machine.files.AddDirectory("G:\\");
  machine.registry.PutString(kHkeyLocalMachine, kAppPaths, "Path", "G:");
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "2816080");
  EXPECT_FALSE(Valid());
  EXPECT_EQ(state.installDir, "G:");
  EXPECT_EQ(state.installedVersion, "");
}

TEST_F(InstallationTest, AMissingOrZeroVersionIsNoCompleteInstallation) {
  Install(kStandardDir);
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "abc");
  EXPECT_FALSE(Valid());
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "0");
  EXPECT_FALSE(Valid());
}

TEST_F(InstallationTest, AVersionThatIsNoStringRaisesTheTypeError) {
  Install(kStandardDir);
  machine.registry.PutDword(kHkeyLocalMachine, kProductKey, "Version", 2816080);
  EXPECT_EQ(Error([&] { Valid(); }), "Type de données incorrect pour 'Version'");
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(InstallationTest, AnInstalledVersionBelowTheBoundIsTooOld) {
  Install(kStandardDir, "2816079");
  EXPECT_FALSE(Valid());
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Message);
  EXPECT_TRUE(machine.dialogs.shown[0].text.starts_with(kTooOldStart));
  EXPECT_TRUE(machine.dialogs.shown[0].text.ends_with("par la nouvelles version."));
  EXPECT_EQ(state.installDir, kStandardDir);  // kept for the run that may follow

  machine.dialogs.shown.clear();
  Install(kStandardDir, "2816080");
  EXPECT_TRUE(Valid());
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(InstallationTest, TheFileVersionBoundComparesMajorTimesTenPlusMinor) {
  Install(kStandardDir);
  struct Case { uint16_t major, minor; bool versioned; uint8_t number; bool valid; };
  for (const Case& c : {Case{3, 0, true, 30, true}, Case{2, 8, true, 28, true}, Case{2, 7, true, 27, false},
                        Case{25, 6, true, 0, false}, Case{0, 0, false, 0, false}}) {
    machine.dialogs.shown.clear();
    machine.system.fileVersions.clear();
    if (c.versioned) machine.system.SetFileVersion(std::string(kStandardDir) + "\\Varnolith.exe", c.major, c.minor);
    EXPECT_EQ(Valid(), c.valid) << c.major << "." << c.minor;
    EXPECT_EQ(state.fileVersionNumber, c.number) << c.major << "." << c.minor;
    EXPECT_EQ(machine.dialogs.shown.size(), c.valid ? 0u : 1u);
  }
}

TEST_F(InstallationTest, TheHeaderBoundsApply) {
  Install(kStandardDir, "100");
  machine.files.AddFile("C:\\Package\\MjaIni.ini",
                        "t\r\n200\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11\r\n12\r\n13\r\n14\r\n15\r\n16\r\n"
                        "29\r\n18\r\n0\r\n20\r\nVersion 3\r\n");
  EXPECT_FALSE(Valid());  // the file version 28 is below 29
  EXPECT_EQ(state.minInstalledVersion, 0);
  EXPECT_EQ(state.minFileVersionNumber, 29);
  EXPECT_EQ(state.versionLabel, "Version 3");
}

TEST_F(InstallationTest, ComparesTheNewVersionWithTheInstalledOne) {
  Install(kStandardDir, "2816090");
  EXPECT_TRUE(Valid());  // equal
  Install(kStandardDir, "2816091");
  EXPECT_FALSE(Valid());  // newer installation: no message here
  EXPECT_TRUE(machine.dialogs.shown.empty());
  machine.files.AddFile("C:\\Package\\MjaIni.ini", "titre\r\nv2\r\n");
  EXPECT_EQ(Error([&] { Valid(); }), "'v2' n'est pas une valeur entière correcte");
}

TEST_F(InstallationTest, AMissingDescriptionShowsItsMessageAndTheCheckGoesOn) {
  Install(kStandardDir);
  machine.files.RemoveFile("C:\\Package\\MjaIni.ini");
  EXPECT_EQ(Error([&] { Valid(); }), "'' n'est pas une valeur entière correcte");
  EXPECT_TRUE(machine.window.quitRequested);
  EXPECT_EQ(state.installDir, kStandardDir);
  ASSERT_FALSE(machine.dialogs.shown.empty());
  EXPECT_TRUE(machine.dialogs.shown[0].text.starts_with("Erreur: le fichier \"MjaIni.ini\""));
}

TEST_F(InstallationTest, WritePcknameCreatesTheKeysAndRecordsTheVersion) {
  state.newVersion = "2816090";
  Platform platform = machine.platform();
  WritePckname(platform, state);
  const auto value = machine.registry.Get(kHkeyLocalMachine, kProductKey, "Version");
  ASSERT_TRUE(value.has_value()) << machine.registry.Dump();
  EXPECT_EQ(value->type, kRegSz);
  EXPECT_EQ(value->data, std::string("2816090\0", 8));
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(InstallationTest, WritePcknameIsSilentWithoutKeyAndRaisesOnARefusedWrite) {
  state.newVersion = "2816090";
  Platform platform = machine.platform();
  machine.registry.Refuse(kHkeyLocalMachine, "Software\\Tolmerik", kKeyCreateSubKey);
  WritePckname(platform, state);
  EXPECT_FALSE(machine.registry.KeyExists(kHkeyLocalMachine, kProductKey));

  MemoryMachine other;
  Platform otherPlatform = other.platform();
  other.registry.FailWritesUnder(kHkeyLocalMachine, kProductKey);
  EXPECT_EQ(Error([&] { WritePckname(otherPlatform, state); }), "Echec à la définition des données pour 'Version'");
  EXPECT_EQ(other.registry.OpenKeys(), 0u);
}

}  // namespace
}  // namespace varno
