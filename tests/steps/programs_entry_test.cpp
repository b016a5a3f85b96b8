#include "steps/programs_entry.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "app/form1.h"
#include "base/text_lines.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kTestInstallDir;

constexpr char kDir[] = "C:\\Program Files\\TolMerik\\Varnolith";

TEST(DescribesInstallation, ByItsLocationIconOrUninstallCommandWhateverTheirSpelling) {
  EXPECT_TRUE(DescribesInstallation("C:\\Program Files\\TolMerik\\Varnolith", "", "", kDir));
  EXPECT_TRUE(DescribesInstallation("\"c:\\program files\\tolmerik\\VARNOLITH\\\"", "", "", kDir));
  EXPECT_TRUE(DescribesInstallation("", "C:\\Program Files\\TolMerik\\Varnolith\\Varnolith.exe,0", "", kDir));
  EXPECT_TRUE(DescribesInstallation("", "\"c:\\Program Files\\TolMerik\\Varnolith\\Varnolith.exe\",-101", "", kDir));
  EXPECT_TRUE(DescribesInstallation("", "", "\"C:\\Program Files\\TolMerik\\Varnolith\\unins000.exe\" /SILENT", kDir));
  EXPECT_TRUE(DescribesInstallation("", "", "C:\\Program Files\\TolMerik\\Varnolith\\Desinst.exe /x /q", kDir));
}

TEST(DescribesInstallation, NotAnotherDirectoryNorAPathThatOnlyStartsLikeIt) {
  EXPECT_FALSE(DescribesInstallation("C:\\Program Files\\TolMerik", "", "", kDir));
  EXPECT_FALSE(DescribesInstallation("C:\\Program Files\\TolMerik\\Varnolith2", "", "", kDir));
  EXPECT_FALSE(DescribesInstallation("", "C:\\Program Files\\TolMerik\\Varnolith2\\Varnolith.exe,0", "", kDir));
  EXPECT_FALSE(DescribesInstallation("", "C:\\Program Files\\TolMerik\\Varnolith\\..\\Autre\\a.exe", "", kDir));
  EXPECT_FALSE(DescribesInstallation("", "Varnolith.exe", "", kDir));  // relative: says nothing of where
  EXPECT_FALSE(DescribesInstallation("", "C:\\Program Files\\TolMerik\\Varnolith,0", "", kDir));
  EXPECT_FALSE(DescribesInstallation("", "", "MsiExec.exe /X{12345678-1234-1234-1234-123456789012}", kDir));
  EXPECT_FALSE(DescribesInstallation("", "", "", kDir));
}

class ProgramsEntryRunTest : public ::testing::Test {
 protected:
  static constexpr char kEntries[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

  void SetUp() override { fake::InstallProduct(machine); }

  void Entry(const std::string& key, const std::string& name, const std::string& value) {
    machine.registry.PutString(kHkeyLocalMachine, std::string(kEntries) + "\\" + key, name, value);
    machine.registry.PutString(kHkeyLocalMachine, std::string(kEntries) + "\\" + key, "DisplayVersion", "2.8");
  }
  std::string Shown(const std::string& key) {
    const auto value = machine.registry.Get(kHkeyLocalMachine, std::string(kEntries) + "\\" + key, "DisplayVersion");
    return value ? value->data.c_str() : "<none>";
  }
  std::vector<std::string> Run(const std::string& sections = "") {
    fake::WritePackageDescription(machine, "2816090", sections);
    Platform platform = machine.platform();
    RunApplication(platform, "WINDOWS NT");
    return SplitTextLines(machine.files.Content(std::string(kTestInstallDir) + "\\VarnoMaJLog.txt").value_or(""));
  }
  static bool Has(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  fake::MemoryMachine machine;
};

TEST_F(ProgramsEntryRunTest, TheEntriesOfTheInstallationShowTheLabelAndTheLogNamesThem) {
  Entry("Varnolith", "InstallLocation", std::string(kTestInstallDir) + "\\");
  Entry("{6A1C-Varno}", "DisplayIcon", std::string(kTestInstallDir) + "\\Varnolith.exe,0");
  Entry("Autre", "InstallLocation", "C:\\Program Files\\Autre");
  const auto log = Run();
  EXPECT_EQ(Shown("Varnolith"), "2.9") << machine.Dump();
  EXPECT_EQ(Shown("{6A1C-Varno}"), "2.9");
  EXPECT_EQ(Shown("Autre"), "2.8");
  EXPECT_TRUE(Has(log, "Version affichée dans Programmes et fonctionnalités, entrée : Varnolith"));
  EXPECT_TRUE(Has(log, "Version affichée dans Programmes et fonctionnalités, entrée : {6A1C-Varno}"));
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(ProgramsEntryRunTest, NoEntryIsMadeWhereTheMachineHasNone) {
  Entry("Autre", "UninstallString", "\"C:\\Program Files\\Autre\\unins000.exe\"");
  Run();
  EXPECT_EQ(Shown("Autre"), "2.8");
  EXPECT_EQ(machine.registry.Get(kHkeyLocalMachine, fake::kProductKey, "Version")->data.c_str(),
            std::string("2816090"));
  EXPECT_EQ(machine.Dump().find("DisplayVersion (type 1) = \"2.9\""), std::string::npos) << machine.Dump();
}

TEST_F(ProgramsEntryRunTest, ARunThatFailsAfterwardsPutsTheVersionShownBack) {
  Entry("Varnolith", "InstallLocation", kTestInstallDir);
  const auto log = Run("[reg]\r\nFlag: bool; peut-être\r\n");
  EXPECT_TRUE(Has(log, "Mise à jour annulée, installation restaurée")) << machine.Dump();
  EXPECT_EQ(Shown("Varnolith"), "2.8");
}

}  // namespace
}  // namespace varno
