// Faults in the middle of a complete run: the disk fills, the registry refuses a write, a
// shortcut cannot be saved, a library cannot be loaded. Whatever happens, the previous
// uninstall record and the product files that were not being replaced stay whole, the log
// holds every line up to the fault, and the user sees the described box.
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
  // The log ends with the shutdown line, right after the last line written before the fault.
  void ExpectLogEndsAfter(const std::string& lastBeforeFault) {
    const Lines log = LogLines();
    ASSERT_GE(log.size(), 2u) << machine.Dump();
    EXPECT_EQ(log[log.size() - 2], lastBeforeFault) << machine.Dump();
    EXPECT_EQ(log.back(), "Fin contrôlée du programme de mise à jour");
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

TEST_F(FaultInjectionTest, TheDiskFillingInAMemberKeepsThePreviousFileAndTheRunGoesOn) {
  machine.files.FillDiskWhileWriting("\\data.bin", 20000);
  Run();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "previous data");
  EXPECT_EQ(machine.files.Content(kInstall + "\\last.txt"), "last");  // the next member is unpacked
  EXPECT_TRUE(machine.window.Visible(Control::Button1)) << machine.Dump();
  EXPECT_TRUE(machine.dialogs.shown.size() == 1u) << machine.Dump();  // the question only: a member is passed over silently
  ExpectNoTemporaryFile();
}

TEST_F(FaultInjectionTest, TheDiskFillingInTheRecordSaveKeepsThePreviousRecord) {
  machine.files.FillDiskWhileWriting("\\UninstCgg.slt", 10);
  Run();
  ExpectErrorBox("Impossible de créer le fichier " + kRecord + ".");
  ExpectPreviousFilesWhole();
  ExpectLogEndsAfter("après MjaVarnoReg  ");
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

TEST_F(FaultInjectionTest, ARegistryWriteRefusedInTheMiddleOfTheValuesLeavesTheRecordUnsaved) {
  // The first value is written; the second is refused.
  machine.registry.failSetValue = [](const std::string& name) { return name == "Nom"; };
  Run();
  ExpectErrorBox("Echec à la définition des données pour 'Nom'");
  ExpectPreviousFilesWhole();
  ExpectLogEndsAfter("Avant MjaVarnoReg  ");
  EXPECT_TRUE(machine.registry.Get(kHkeyLocalMachine, fake::kProductKey, "Port").has_value());
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

TEST_F(FaultInjectionTest, ALinkObjectThatCannotBeCreatedEndsTheRunWithTheRecordUnsaved) {
  machine.shell.refuseLinkObject = true;
  Run();
  ExpectErrorBox("Impossible de créer l'objet raccourci.");
  ExpectPreviousFilesWhole();
  ExpectLogEndsAfter("Avant AddShellLink ");
}

TEST_F(FaultInjectionTest, AControlThatCannotBeLoadedEndsTheRunAfterTheRecordWasSaved) {
  machine.libraries.libraries.erase(AnsiUpperCase(machine.system.systemDirectory + "\\Varxxlith.ocx"));
  Run();
  ExpectErrorBox("Echec au chargement de \"C:\\WINDOWS\\system32\\Varxxlith.ocx\"");
  EXPECT_NE(machine.files.Content(kRecord), kPreviousRecord);  // the record was saved before
  ExpectLogEndsAfter("Enregistrement de Varxxlith.ocx dans C:\\WINDOWS\\system32");
  EXPECT_EQ(machine.libraries.open, 0);
}

}  // namespace
}  // namespace varno
