// The guards before the first change: another updater running, product files in use, too
// little disk space. Each ends the run with the installation untouched.
#include <gtest/gtest.h>

#include "app/form1.h"
#include "base/text_lines.h"
#include "package/archive_writer.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kTestInstallDir;

const std::string kInstall = kTestInstallDir;

class PreflightGatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    machine.files.AddFile(kInstall + "\\data.bin", "previous data");
    fake::WritePackageDescription(machine, "2816090", "[insubdir]\r\nImages : pics.slp\r\n");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp",
                          ArchiveBytes({MemberFromBytes("new.dll", std::string(3000, 'n')),
                                        MemberFromBytes("data.bin", std::string(2000, 'd'))}));
    machine.files.AddDirectory(kInstall + "\\Images");
    machine.files.AddFile(kInstall + "\\Images\\logo.bmp", "BM old");
    machine.files.AddFile("C:\\Package\\pics.slp", ArchiveBytes({MemberFromBytes("logo.bmp", "BM new")}));
  }

  // The installation and the registry, without the run log.
  std::string Installation() {
    std::string state;
    for (const std::string& name : machine.files.List(kInstall)) {
      if (name != "VarnoMaJLog.txt") state += name + "=" + machine.files.Content(kInstall + "\\" + name).value_or("<dir>") + "\n";
    }
    return state + machine.registry.Dump();
  }

  void Run() {
    Platform platform = machine.platform();
    RunApplication(platform, "WINDOWS NT");
  }

  std::vector<std::string> Log() {
    return SplitTextLines(machine.files.Content(kInstall + "\\VarnoMaJLog.txt").value_or(""));
  }

  fake::MemoryMachine machine;
};

TEST_F(PreflightGatesTest, AFileThePackageRemovesIsAskedAboutWhenInUse) {
  fake::WritePackageDescription(machine, "2816090", "[delete]\r\nold.dll\r\n..\\outside.dll\r\n");
  machine.files.AddFile(kInstall + "\\old.dll", "old");
  machine.files.SetInUse(kInstall + "\\old.dll");
  const std::string before = Installation();
  machine.dialogs.answers = {true, false};
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_NE(machine.dialogs.shown[1].text.find(kInstall + "\\old.dll\r"), std::string::npos)
      << machine.dialogs.shown[1].text;
  EXPECT_EQ(Installation(), before);
}

TEST_F(PreflightGatesTest, FilesInUseAreNamedAndAnnulerChangesNothing) {
  machine.files.SetInUse(kInstall + "\\Images\\logo.bmp");
  machine.processes.programsUsingFiles = {"Varnolith", "Explorateur"};
  const std::string before = Installation();
  machine.dialogs.answers = {true, false};  // Oui to the question, Annuler to the files in use
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  const fake::ShownBox& box = machine.dialogs.shown[1];
  EXPECT_EQ(box.kind, BoxKind::RetryCancel);
  EXPECT_EQ(box.title, "Avertissement");
  EXPECT_EQ(box.text,
            "Des fichiers de Varnolith que la mise à jour doit remplacer sont en cours d'utilisation :\r" + kInstall +
                "\\Images\\logo.bmp\r\rFermez Varnolith, Explorateur puis cliquez sur Réessayer.");
  EXPECT_EQ(Installation(), before);
  const auto log = Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "Annulation demandée : fichiers en cours d'utilisation"), log.end());
  EXPECT_FALSE(machine.window.Visible(Control::Button1));
}

TEST_F(PreflightGatesTest, RetryLooksAgainUntilTheFilesAreFree) {
  machine.files.SetInUse(kInstall + "\\data.bin");
  machine.dialogs.answers = {true, true, true, false};  // Oui, then Réessayer twice, then Annuler
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 4u) << machine.Dump();
  EXPECT_NE(machine.dialogs.shown[3].text.find("Fermez les programmes qui les utilisent puis"), std::string::npos);

  machine.files.SetInUse(kInstall + "\\data.bin", false);
  machine.dialogs = fake::MemoryDialogs();
  machine.window = fake::MemoryWindow();
  Run();
  EXPECT_TRUE(machine.window.Visible(Control::Button1)) << machine.Dump();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), std::string(2000, 'd'));
}

TEST_F(PreflightGatesTest, UnattendedAFileInUseIsWaitedForThirtySecondsThenTryAgainLater) {
  machine.files.SetInUse(kInstall + "\\data.bin");
  const std::string before = Installation();
  RunOptions quiet;
  quiet.quiet = true;
  Platform platform = machine.platform();
  EXPECT_EQ(RunApplication(platform, "WINDOWS NT", nullptr, quiet), ExitCode::kTryAgainLater);
  EXPECT_EQ(machine.system.pausedMilliseconds, 30000u);
  EXPECT_TRUE(machine.dialogs.shown.empty());
  EXPECT_EQ(Installation(), before);

  // Freed while it waits: the update goes on.
  machine.system.pausedMilliseconds = 0;
  machine.system.onPause = [this] {
    if (machine.system.pausedMilliseconds == 3000) machine.files.SetInUse(kInstall + "\\data.bin", false);
  };
  EXPECT_EQ(RunApplication(platform, "WINDOWS NT", nullptr, quiet), ExitCode::kSuccess) << machine.Dump();
  EXPECT_EQ(machine.system.pausedMilliseconds, 3000u);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), std::string(2000, 'd'));
}

TEST_F(PreflightGatesTest, TooLittleDiskSpaceForTheArchivesChangesNothing) {
  machine.files.SetFreeSpace(4000);  // the members take 5006 bytes
  const std::string before = Installation();
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown[1].kind, BoxKind::Message);
  EXPECT_EQ(machine.dialogs.shown[1].text, "Espace disque insuffisant dans " + kInstall +
                                               " : la mise à jour doit écrire 1 Mo et seuls 0 Mo sont libres.\r"
                                               "La mise à jour ne peut être exécutée.");
  EXPECT_EQ(Installation(), before);
}

TEST_F(PreflightGatesTest, ASecondUpdaterSaysSoAndTouchesNothingNotEvenTheLog) {
  machine.processes.otherUpdaterRunning = true;
  Platform platform = machine.platform();
  EXPECT_EQ(RunApplication(platform, "WINDOWS NT"), ExitCode::kTryAgainLater);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].text, "Une mise à jour de Varnolith est déjà en cours.");
  EXPECT_FALSE(machine.files.FileExists("C:\\Users\\Pierre\\Desktop\\VarnoMaJLog.txt"));
  EXPECT_TRUE(Log().empty());
}

}  // namespace
}  // namespace varno
