// Faults in the middle of a complete run: the disk fills, the registry refuses a write, a
// shortcut cannot be saved, a library cannot be loaded. Whatever happens, the user sees the
// described box, the run is taken back (the uninstall record and the product files as they
// were), and the log holds every line up to the fault, then the rollback's.
#include <gtest/gtest.h>

#include "app/form1.h"
#include "base/text_lines.h"
#include "package/archive_writer.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kTestInstallDir;
using Lines = std::vector<std::string>;

const std::string kInstall = kTestInstallDir;
const std::string kRecord = kInstall + "\\UninstCgg.slt";
const std::string kLog = kInstall + "\\VarnoMaJLog.txt";
const std::string kPreviousRecord = "[SurFile]\r\nold.dll\r\n[****]\r\n";

class FaultInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    fake::AddShellFolders(machine);
    machine.files.AddFile(kRecord, kPreviousRecord);
    machine.files.AddFile(kInstall + "\\data.bin", "previous data");
    fake::WritePackageDescription(
        machine, "2816090",
        "[subdir]\r\nData\r\n[desk]\r\nVarnolith.exe: Varnolith Pro\r\n[reg]\r\nPort: integer; 8080\r\nNom: string; x\r\n");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp",
                          ArchiveBytes({MemberFromBytes("new.dll", "new"), MemberFromBytes("data.bin", std::string(60000, 'd')),
                                        MemberFromBytes("last.txt", "last")}));
  }

  void Run() {
    Platform platform = machine.platform();
    RunApplication(platform, "WINDOWS NT");
  }

  Lines LogLines() { return SplitTextLines(machine.files.Content(kLog).value_or("")); }
  // The log ends with the rollback and the shutdown line, right after the last line
  // written before the fault.
  void ExpectRolledBackAfter(const std::string& lastBeforeFault) {
    const Lines log = LogLines();
    ASSERT_GE(log.size(), 4u) << machine.Dump();
    EXPECT_EQ(Lines(log.end() - 4, log.end()),
              (Lines{lastBeforeFault, "Annulation de la mise à jour", "Mise à jour annulée, installation restaurée",
                     "Fin contrôlée du programme de mise à jour"}))
        << machine.Dump();
    EXPECT_EQ(machine.window.Caption(Control::Label1), "La mise à jour a été annulée");
    EXPECT_FALSE(machine.files.FileExists(kInstall + "\\VarnoMaJ.journal"));
  }
  void ExpectErrorBox(const std::string& text) {
    ASSERT_FALSE(machine.dialogs.shown.empty());
    EXPECT_EQ(machine.dialogs.shown.back().kind, BoxKind::Error) << machine.Dump();
    EXPECT_EQ(machine.dialogs.shown.back().text, text);
    EXPECT_FALSE(machine.window.Visible(Control::Button1));
  }
  void ExpectPreviousFilesWhole() {
    EXPECT_EQ(machine.files.Content(kRecord), kPreviousRecord);
    EXPECT_EQ(machine.files.Content(kInstall + "\\Varnolith.exe"), "MZ");
  }
  void ExpectNoTemporaryFile() {
    for (const std::string& name : machine.files.List(kInstall)) EXPECT_FALSE(name.ends_with(".tmp")) << name;
  }

  fake::MemoryMachine machine;
};

TEST_F(FaultInjectionTest, TheDiskFillingInAMemberEndsTheRunAndTakesItBack) {
  machine.files.FillDiskWhileWriting("\\data.bin", 20000);
  Run();
  ExpectErrorBox("Impossible de créer le fichier " + kInstall + "\\data.bin.");
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "previous data");
  EXPECT_FALSE(machine.files.FileExists(kInstall + "\\new.dll")) << "a member written before is taken back";
  EXPECT_FALSE(machine.files.FileExists(kInstall + "\\last.txt"));
  ExpectPreviousFilesWhole();
  ExpectRolledBackAfter("Chargement de WriteLogList effectué");
  ExpectNoTemporaryFile();
}

TEST_F(FaultInjectionTest, TheDiskFillingInTheRecordSaveKeepsThePreviousRecord) {
  machine.files.FillDiskWhileWriting("\\UninstCgg.slt", 10);
  Run();
  ExpectErrorBox("Impossible de créer le fichier " + kRecord + ".");
  ExpectPreviousFilesWhole();
  ExpectRolledBackAfter("après MjaVarnoReg  ");
  ExpectNoTemporaryFile();
}

TEST_F(FaultInjectionTest, TheDiskFillingInALogSaveKeepsTheLogSavedBefore) {
  // The log of the earlier run is replaced at the first save after the move (the saves on
  // the desktop stay below 200 bytes): that save fails part way, leaving the earlier log as
  // it was, and the error ends the run there.
  machine.files.AddFile(kLog, "journal précédent\r\n");
  machine.files.FillDiskWhileWriting("\\VarnoMaJLog.txt", 200);
  Run();
  ASSERT_FALSE(machine.dialogs.shown.empty());
  EXPECT_EQ(machine.dialogs.shown.back().kind, BoxKind::Error);
  EXPECT_EQ(machine.dialogs.shown.back().text, "Impossible de créer le fichier " + kLog + ".");
  ExpectPreviousFilesWhole();
  // The shutdown save, with the disk free again, writes every line of the run.
  EXPECT_EQ(LogLines(), (Lines{"Mise à jour Varnolith", "CurrentDir =C:\\Package", "ValidControl terminé avec succès",
                               "Chemin de Varnolith installé :" + kInstall,
                               "Le fichier journal provisoire a été supprimé du bureau",
                               "Réponse OUI à l'invite de mise à jour", "Fin contrôlée du programme de mise à jour"}));
  ExpectNoTemporaryFile();
}

TEST_F(FaultInjectionTest, ARegistryWriteRefusedInTheMiddleOfTheValuesTakesBackTheOnesWritten) {
  // The first value is written; the second is refused.
  machine.registry.failSetValue = [](const std::string& name) { return name == "Nom"; };
  machine.registry.PutString(kHkeyLocalMachine, fake::kProductKey, "Version", "2816080");
  Run();
  ExpectErrorBox("Echec à la définition des données pour 'Nom'");
  ExpectPreviousFilesWhole();
  ExpectRolledBackAfter("Avant MjaVarnoReg  ");
  EXPECT_FALSE(machine.registry.Get(kHkeyLocalMachine, fake::kProductKey, "Port").has_value());
  EXPECT_EQ(machine.registry.Get(kHkeyLocalMachine, fake::kProductKey, "Version")->data, std::string("2816080\0", 8));
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(FaultInjectionTest, AShortcutThatCannotBeSavedIsPassedOverAndNotRecorded) {
  machine.shell.failSaves = true;
  Run();
  EXPECT_TRUE(machine.window.Visible(Control::Button1)) << machine.Dump();
  const std::string record = machine.files.Content(kRecord).value_or("");
  EXPECT_NE(record.find("[SurDeskLink]\r\n[SurValReg]"), std::string::npos) << record;
  EXPECT_EQ(record.find("Varnolith Pro"), std::string::npos);
}

TEST_F(FaultInjectionTest, ALinkObjectThatCannotBeCreatedEndsTheRunAndTakesItBack) {
  machine.shell.refuseLinkObject = true;
  Run();
  ExpectErrorBox("Impossible de créer l'objet raccourci.");
  ExpectPreviousFilesWhole();
  ExpectRolledBackAfter("Avant AddShellLink ");
}

TEST_F(FaultInjectionTest, AControlThatCannotBeLoadedTakesBackTheRecordSavedBefore) {
  machine.libraries.libraries.erase(AnsiUpperCase(machine.system.systemDirectory + "\\Varxxlith.ocx"));
  Run();
  ExpectErrorBox("Echec au chargement de \"C:\\WINDOWS\\system32\\Varxxlith.ocx\"");
  ExpectPreviousFilesWhole();  // the record had been saved: it is put back
  ExpectRolledBackAfter("Enregistrement de Varxxlith.ocx dans C:\\WINDOWS\\system32");
  EXPECT_EQ(machine.libraries.open, 0);
}

}  // namespace
}  // namespace varno
