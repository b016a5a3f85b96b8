// The guards before the first change: another updater running, product files in use, too
// little disk space. Each ends the run with the installation untouched.
#include <gtest/gtest.h>

#include "app/form1.h"
#include "base/text_lines.h"
#include "package/archive_writer.h"
#include "support/memory_event_log.h"
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

  ExitCode RunQuiet(bool force = false, EventLog* eventLog = nullptr) {
    RunOptions options;
    options.quiet = options.closeApplications = true;
    options.forceCloseApplications = force;
    Platform platform = machine.platform();
    return RunApplication(platform, "WINDOWS NT", nullptr, options, eventLog);
  }

  // The product left open by a user, holding its file, and another program that holds
  // nothing the package replaces.
  void LeaveTheProductOpen() {
    machine.holders.Run({1234, kInstall + "\\Varnolith.exe", "PC\\Pierre", {kInstall + "\\data.bin"},
                         "\"" + kInstall + "\\Varnolith.exe\" /base=Lyon", "C:\\Users\\Pierre\\Documents"});
    machine.holders.Run({77, "C:\\Outils\\autre.exe", "PC\\Pierre", {kInstall + "\\notes.txt"}});
  }

  bool Logged(const std::string& line) {
    const auto log = Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  std::vector<std::string> Log() {
    return SplitTextLines(machine.files.Content(kInstall + "\\VarnoMaJLog.txt").value_or(""));
  }

  fake::MemoryMachine machine;
  fake::MemoryEventLog events;
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

TEST_F(PreflightGatesTest, FilesInUseAreNamedWithTheirProgramsAndAnnulerChangesNothing) {
  const std::string logo = kInstall + "\\Images\\logo.bmp";
  machine.holders.Run({1234, kInstall + "\\Varnolith.exe", "PC\\Pierre", {logo}});
  machine.holders.Run({88, "C:\\Windows\\explorer.exe", "", {logo, kInstall + "\\unrelated.txt"}});
  const std::string before = Installation();
  machine.dialogs.answers = {true, false};  // Oui to the question, Annuler to the files in use
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  const fake::ShownBox& box = machine.dialogs.shown[1];
  EXPECT_TRUE(box.closeButton);
  EXPECT_EQ(box.title, "Avertissement");
  EXPECT_EQ(box.text,
            "Des fichiers de Varnolith que la mise à jour doit remplacer sont en cours d'utilisation :\r" + logo +
                "\r\rProgrammes qui les utilisent :\rVarnolith.exe (processus 1234, utilisateur PC\\Pierre)\r"
                "explorer.exe (processus 88, utilisateur inconnu)\r\r"
                "Fermez-les puis cliquez sur Réessayer, ou cliquez sur Fermer les programmes :\r"
                "la mise à jour les fermera, puis les relancera une fois terminée.");
  EXPECT_EQ(Installation(), before);
  const auto log = Log();
  for (const std::string line :
       {"Programme qui utilise des fichiers à remplacer : " + kInstall +
            "\\Varnolith.exe (processus 1234, utilisateur PC\\Pierre) : " + logo,
        "Programme qui utilise des fichiers à remplacer : C:\\Windows\\explorer.exe (processus 88, utilisateur "
        "inconnu) : " + logo,
        std::string("Annulation demandée : fichiers en cours d'utilisation")}) {
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
  }
  EXPECT_TRUE(machine.holders.askedToEnd.empty());
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
  machine.holders.Run({1234, kInstall + "\\Varnolith.exe", "PC\\Pierre", {kInstall + "\\data.bin"}});
  const std::string before = Installation();
  RunOptions quiet;
  quiet.quiet = true;
  Platform platform = machine.platform();
  EXPECT_EQ(RunApplication(platform, "WINDOWS NT", nullptr, quiet), ExitCode::kTryAgainLater);
  EXPECT_EQ(machine.system.pausedMilliseconds, 30000u);
  EXPECT_TRUE(machine.dialogs.shown.empty());
  EXPECT_EQ(Installation(), before);
  // Named, but without the option nobody asks it to close.
  EXPECT_TRUE(Logged("Programme qui utilise des fichiers à remplacer : " + kInstall +
                     "\\Varnolith.exe (processus 1234, utilisateur PC\\Pierre) : " + kInstall + "\\data.bin"));
  EXPECT_TRUE(machine.holders.askedToEnd.empty());
  EXPECT_TRUE(machine.holders.restarted.empty());

  // Freed while it waits: the update goes on.
  machine.system.pausedMilliseconds = 0;
  machine.system.onPause = [this] {
    if (machine.system.pausedMilliseconds == 3000) machine.holders.ForceEnd(machine.holders.processes[0].holder);
  };
  EXPECT_EQ(RunApplication(platform, "WINDOWS NT", nullptr, quiet), ExitCode::kSuccess) << machine.Dump();
  EXPECT_EQ(machine.system.pausedMilliseconds, 3000u);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), std::string(2000, 'd'));
}

TEST_F(PreflightGatesTest, CloseApplicationsClosesTheHolderUpdatesThenStartsItAgainAsItWas) {
  LeaveTheProductOpen();
  ASSERT_EQ(RunQuiet(false, &events), ExitCode::kSuccess) << machine.Dump();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), std::string(2000, 'd'));
  EXPECT_EQ(machine.system.pausedMilliseconds, 0u);
  EXPECT_EQ(machine.holders.askedToEnd, std::vector<uint32_t>{1234});  // never the program that holds nothing
  ASSERT_EQ(machine.holders.restarted.size(), 1u);
  EXPECT_EQ(machine.holders.restarted[0].commandLine, "\"" + kInstall + "\\Varnolith.exe\" /base=Lyon");
  EXPECT_EQ(machine.holders.restarted[0].currentDirectory, "C:\\Users\\Pierre\\Documents");
  // Started again only once the update is committed.
  const auto log = Log();
  const auto closed = std::find(log.begin(), log.end(), "Programme fermé : Varnolith.exe (processus 1234, utilisateur PC\\Pierre)");
  const auto committed = std::find(log.begin(), log.end(), "Après SetUpDateTable");
  const auto restarted = std::find(log.begin(), log.end(), "Programme relancé : \"" + kInstall +
                                   "\\Varnolith.exe\" /base=Lyon (répertoire : C:\\Users\\Pierre\\Documents)");
  EXPECT_TRUE(closed < committed && committed < restarted && restarted != log.end()) << machine.Dump();
  // The run's event names the program and its user.
  ASSERT_EQ(events.events.size(), 1u);
  const std::string named = "Varnolith.exe (processus 1234, utilisateur PC\\Pierre)";
  EXPECT_TRUE(events.events[0].strings[0].ends_with(" Programmes qui utilisaient des fichiers à remplacer : " + named))
      << events.events[0].strings[0];
  EXPECT_EQ(events.events[0].strings.back(), named);
}

TEST_F(PreflightGatesTest, AProgramThatRefusesIsLeftRunningAndTheRunEndsTryAgainLater) {
  LeaveTheProductOpen();
  machine.holders.processes[0].agreesToEnd = false;
  // A second holder agrees: closed, and started again though the run changed nothing.
  machine.holders.Run({555, "C:\\Outils\\visionneuse.exe", "PC\\Marie", {kInstall + "\\Images\\logo.bmp"}});
  const std::string before = Installation();
  EXPECT_EQ(RunQuiet(), ExitCode::kTryAgainLater);
  EXPECT_EQ(Installation(), before);
  EXPECT_TRUE(machine.holders.Running(1234));
  EXPECT_TRUE(machine.holders.forcedToEnd.empty());
  EXPECT_TRUE(Logged("Programme non fermé, il a refusé de se fermer : Varnolith.exe (processus 1234, utilisateur PC\\Pierre)"));
  ASSERT_EQ(machine.holders.restarted.size(), 1u) << machine.Dump();
  EXPECT_EQ(machine.holders.restarted[0].program, "C:\\Outils\\visionneuse.exe");
}

TEST_F(PreflightGatesTest, ForceEndsARefuserAfterAskingAndStartsItAgain) {
  LeaveTheProductOpen();
  machine.holders.processes[0].agreesToEnd = false;
  ASSERT_EQ(RunQuiet(true), ExitCode::kSuccess) << machine.Dump();
  EXPECT_EQ(machine.holders.askedToEnd, std::vector<uint32_t>{1234});
  EXPECT_EQ(machine.holders.forcedToEnd, std::vector<uint32_t>{1234});
  EXPECT_TRUE(Logged("Programme arrêté sans son accord : Varnolith.exe (processus 1234, utilisateur PC\\Pierre)"));
  EXPECT_EQ(machine.holders.restarted.size(), 1u);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), std::string(2000, 'd'));
}

TEST_F(PreflightGatesTest, AnEndReportedWhileTheProgramStillHoldsItsFilesIsNotBelieved) {
  LeaveTheProductOpen();
  machine.holders.processes[0].staysAfterAgreeing = true;
  const std::string before = Installation();
  EXPECT_EQ(RunQuiet(), ExitCode::kTryAgainLater);
  EXPECT_EQ(Installation(), before);
  // Never started a second time, as it was never closed.
  EXPECT_TRUE(machine.holders.restarted.empty()) << machine.Dump();
  EXPECT_TRUE(Logged("Programme non fermé, il est toujours en cours d'exécution : Varnolith.exe (processus 1234, "
                     "utilisateur PC\\Pierre)"));
}

TEST_F(PreflightGatesTest, TheBoxsCloseButtonClosesTheProgramsThenTheUpdateGoesOn) {
  LeaveTheProductOpen();
  machine.dialogs.choices = {FilesInUseChoice::ClosePrograms};
  Run();
  EXPECT_TRUE(machine.window.Visible(Control::Button1)) << machine.Dump();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), std::string(2000, 'd'));
  EXPECT_EQ(machine.holders.restarted.size(), 1u);
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
