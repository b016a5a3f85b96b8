#include "app/form1.h"

#include <gtest/gtest.h>

#include "base/text_lines.h"
#include "package/archive_writer.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kProductKey;
using fake::kTestInstallDir;
using fake::MemoryMachine;
using Lines = std::vector<std::string>;

constexpr char kDesktopLog[] = "C:\\Users\\Pierre\\Desktop\\VarnoMaJLog.txt";
constexpr char kInstallLog[] = "C:\\Program Files\\TolMerik\\Varnolith\\VarnoMaJLog.txt";
constexpr char kRecord[] = "C:\\Program Files\\TolMerik\\Varnolith\\UninstCgg.slt";
constexpr char kFamily[] = "WINDOWS NT";

const Lines kStart = {"Mise à jour Varnolith", "CurrentDir =C:\\Package"};
const Lines kFound = {"ValidControl terminé avec succès", "Chemin de Varnolith installé :" + std::string(kTestInstallDir)};

const Lines kThroughTheGates = {"Réponse OUI à l'invite de mise à jour",
                                "Version installée moins récente que la nouvelle",
                                "Possède les droits suffisants pour installer la mise à jour",
                                "Avant Création WriteLogList", "Après Création WriteLogList"};
const Lines kSteps = {"FileCopy effectué",
                      "Succès WritePckname",
                      "Avant CreateNewDir",
                      "Avant CopyInNewDir",
                      "Après CopyInNewDir",
                      "Avant MjaShellLink ",
                      "Avant AddShellLink ",
                      "Avant MjaVarnoReg  ",
                      "après MjaVarnoReg  ",
                      "Après WriteLogList.SaveToFile",
                      "Avant l'enregistrement de Varxxlith.ocx",
                      "Enregistrement de Varxxlith.ocx dans C:\\WINDOWS\\system32",
                      "Après l'enregistrement de Varxxlith.ocx",
                      "Après SetUpDateTable"};

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class Form1Test : public ::testing::Test {
 protected:
  // The updater's whole life: the form runs the update, the loop runs unless the run asked
  // to end, the form is destroyed.
  void Run() {
    Platform platform = machine.platform();
    RunApplication(platform, kFamily);
  }

  Lines Log(const std::string& path) { return SplitTextLines(machine.files.Content(path).value_or("<no log>")); }

  std::string RegisteredVersion() {
    auto value = machine.registry.Get(kHkeyLocalMachine, kProductKey, "Version");
    return value ? value->data.c_str() : "<none>";
  }

  const fake::ShownBox& Box(size_t i) {
    static const fake::ShownBox none{BoxKind::Message, "<none>", "<none>"};
    return i < machine.dialogs.shown.size() ? machine.dialogs.shown[i] : none;
  }

  MemoryMachine machine;
};

TEST_F(Form1Test, WithoutPackageDescriptionItEndsSilentlyAfterFourLogLines) {
  Run();
  EXPECT_EQ(Log(kDesktopLog), Concat({kStart, {"Fichier Ini  manquant", "Terminé",
                                               "Fin contrôlée du programme de mise à jour"}}))
      << machine.Dump();
  EXPECT_TRUE(machine.dialogs.shown.empty());
  EXPECT_TRUE(machine.window.quitRequested);
  EXPECT_FALSE(machine.window.formVisible);
  EXPECT_FALSE(machine.window.loopRan);
}

TEST_F(Form1Test, TheCurrentDirectoryIsLoggedAsReadAndKeptWithoutBackslash) {
  machine.files.SetCurrentDirectory("C:\\");
  Platform platform = machine.platform();
  TForm1 form(platform, kFamily);
  form.FormCreate();
  EXPECT_EQ(Log(kDesktopLog).at(1), "CurrentDir =C:\\");
  EXPECT_EQ(form.State().packageDir, "C:");
  EXPECT_EQ(form.State().packageDescriptionPath, "C:\\MjaIni.ini");
}

TEST_F(Form1Test, WithoutDesktopTheLogStaysInThePackageDirectoryUntilMoved) {
  machine.shell.folders.clear();
  Run();
  EXPECT_EQ(Log("C:\\Package\\VarnoMaJLog.txt").size(), 5u) << machine.Dump();

  MemoryMachine other;
  other.shell.folders.clear();
  fake::InstallProduct(other);
  fake::WritePackageDescription(other, "2816090");
  other.dialogs.answers = {false};
  Platform platform = other.platform();
  RunApplication(platform, kFamily);
  EXPECT_FALSE(other.files.FileExists("C:\\Package\\VarnoMaJLog.txt"));
  EXPECT_EQ(SplitTextLines(other.files.Content(kInstallLog).value_or("")).size(), 6u) << other.Dump();
}

TEST_F(Form1Test, AnswerNonEndsTheRunWithTheLogInTheInstallation) {
  fake::InstallProduct(machine);
  fake::WritePackageDescription(machine, "2816090");
  machine.dialogs.answers = {false};
  Run();
  EXPECT_EQ(Log(kInstallLog), Concat({kStart, kFound, {"Réponse NON à l'invite de mise à jour",
                                                       "Fin contrôlée du programme de mise à jour"}}))
      << machine.Dump();
  EXPECT_FALSE(machine.files.FileExists(kDesktopLog));
  EXPECT_EQ(Box(0).kind, BoxKind::Confirmation);
  EXPECT_EQ(Box(0).text, "Voulez-vous installer la mise à jour de Varnolith ?");
  EXPECT_EQ(RegisteredVersion(), "2816080");
  EXPECT_FALSE(machine.window.formVisible);
}

TEST_F(Form1Test, AnEarlierLogInTheInstallationIsReplacedAndTheDeletionLogged) {
  fake::InstallProduct(machine);
  fake::WritePackageDescription(machine, "2816090");
  machine.files.AddFile(kInstallLog, "ancien journal\r\n");
  machine.dialogs.answers = {false};
  Run();
  EXPECT_EQ(Log(kInstallLog),
            Concat({kStart, kFound, {"Le fichier journal provisoire a été supprimé du bureau",
                                     "Réponse NON à l'invite de mise à jour", "Fin contrôlée du programme de mise à jour"}}));
}

TEST_F(Form1Test, ANewerInstallationIsRefusedWithAMessageAndNoLogLine) {
  fake::InstallProduct(machine, kTestInstallDir, "2816091");
  fake::WritePackageDescription(machine, "2816090");
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Message);
  EXPECT_EQ(Box(1).text,
            "La version installée est plus récente que la mise à jour.\nLa mise à jour ne peut être exécutée.");
  EXPECT_EQ(Log(kInstallLog), Concat({kStart, kFound, {"Réponse OUI à l'invite de mise à jour",
                                                       "Fin contrôlée du programme de mise à jour"}}));
  EXPECT_TRUE(machine.window.quitRequested);
  EXPECT_EQ(RegisteredVersion(), "2816091");
}

TEST_F(Form1Test, ANewerInstallationEndsSilentlyWhenThePackageCarriesActionExe) {
  fake::InstallProduct(machine, kTestInstallDir, "2816091");
  fake::WritePackageDescription(machine, "2816090");
  machine.files.AddFile("C:\\Package\\Action.exe", "MZ");
  Run();
  EXPECT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_TRUE(machine.processes.started.empty());
  EXPECT_TRUE(machine.window.quitRequested);
}

TEST_F(Form1Test, AnEqualVersionAsksAgainAfterLoggingTheComparison) {
  fake::InstallProduct(machine, kTestInstallDir, "2816090");
  fake::WritePackageDescription(machine, "2816090");
  machine.dialogs.answers = {true, false};
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Warning);
  EXPECT_EQ(Box(1).title, "Avertissement");
  EXPECT_EQ(Box(1).text, "Cette Mise à jour est déjà effective.\rVoulez-vous vraiment la reproduire ?");
  EXPECT_EQ(Log(kInstallLog), Concat({kStart, kFound, {"Réponse OUI à l'invite de mise à jour",
                                                       "Version installée moins récente que la nouvelle",
                                                       "Fin contrôlée du programme de mise à jour"}}));
  EXPECT_TRUE(machine.window.quitRequested);
}

TEST_F(Form1Test, AnEqualVersionAnsweredOuiRunsTheUpdate) {
  fake::InstallProduct(machine, kTestInstallDir, "2816090");
  fake::WritePackageDescription(machine, "2816090");
  Run();
  EXPECT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_TRUE(machine.window.Visible(Control::Button1));
}

TEST_F(Form1Test, MissingRightsEndTheRunAndStartActionExe) {
  fake::InstallProduct(machine);
  fake::WritePackageDescription(machine, "2816090");
  machine.files.AddFile("C:\\Package\\Action.exe", "MZ");
  machine.registry.Refuse(kHkeyLocalMachine, "SOFTWARE\\DeleteMe", kKeySetValue | kKeyCreateSubKey);
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Message);
  EXPECT_EQ(Box(1).text,
            "Vous ne disposez pas des droits nécessaires pour effectuer cette mise à jour.\r\rContactez "
            "l'administrateur de votre ordinateur ou ouvrez une session vous accordant au minimum les droits de "
            "l'\"utilisateur avec pouvoirs\".");
  EXPECT_EQ(machine.processes.started, Lines{"Action.exe"});
  EXPECT_EQ(Log(kInstallLog), Concat({kStart, kFound, {"Réponse OUI à l'invite de mise à jour",
                                                       "Version installée moins récente que la nouvelle",
                                                       "Ne peut installer Varnolith : manque de droits",
                                                       "Fin contrôlée du programme de mise à jour"}}));
  EXPECT_EQ(RegisteredVersion(), "2816080");
  EXPECT_FALSE(machine.window.formVisible);
}

TEST_F(Form1Test, ACompleteRunShowsItsLabelsAndRecordsTheVersion) {
  fake::InstallProduct(machine);
  fake::WritePackageDescription(machine, "2816090");
  machine.window.clickButton1InLoop = true;
  Run();
  EXPECT_EQ(Log(kInstallLog), Concat({kStart, kFound, kThroughTheGates, kSteps,
                                      {"Fin contrôlée du programme de mise à jour"}}))
      << machine.Dump();
  EXPECT_EQ(machine.files.Content(kRecord), "[SurFile]\r\n[****]\r\n");
  EXPECT_EQ(RegisteredVersion(), "2816090");
  EXPECT_TRUE(machine.window.formVisible);
  EXPECT_TRUE(machine.window.Visible(Control::Label1));
  EXPECT_TRUE(machine.window.Visible(Control::Label2));
  EXPECT_TRUE(machine.window.Visible(Control::Label3));
  EXPECT_TRUE(machine.window.Visible(Control::Label4));
  EXPECT_FALSE(machine.window.Visible(Control::Label6));  // no "[insubdir]"
  EXPECT_FALSE(machine.window.Visible(Control::Label5));  // no "[reg]"
  EXPECT_TRUE(machine.window.Visible(Control::Button1));
  EXPECT_EQ(machine.window.Caption(Control::Label1), "La mise à jour est terminée");
  EXPECT_EQ(machine.window.Caption(Control::Label2), "Mise à jour des fichiers\r\nFiles Update");
  EXPECT_TRUE(machine.window.loopRan);
  EXPECT_TRUE(machine.window.quitRequested);  // "Quitter" ended the loop
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(Form1Test, AnInstallationTooOldStillRunsWithoutTheValidationLabel) {
  fake::InstallProduct(machine, kTestInstallDir, "2816079");
  fake::WritePackageDescription(machine, "2816090");
  Run();
  EXPECT_TRUE(Box(0).text.starts_with("La version de Varnolith trouvée sur cet ordinateur est trop ancienne"));
  EXPECT_EQ(Box(1).kind, BoxKind::Confirmation);
  EXPECT_FALSE(machine.window.Visible(Control::Label3));
  EXPECT_TRUE(machine.window.Visible(Control::Label2));
  EXPECT_EQ(RegisteredVersion(), "2816090");
}

TEST_F(Form1Test, NoInstallationFoundEndsInTheErrorBoxAndTheWindowStays) {
  fake::WritePackageDescription(machine, "2816090");
  Run();
  EXPECT_EQ(machine.dialogs.directoryDialogs, 1);
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Error);
  EXPECT_EQ(Box(1).title, "Varnolith_maj_solo");
  EXPECT_EQ(Box(1).text, "'' n'est pas une valeur entière correcte.");
  EXPECT_EQ(Log(kDesktopLog), Concat({kStart, {"ValidControl terminé avec succès", "Chemin de Varnolith installé :",
                                               "Réponse OUI à l'invite de mise à jour",
                                               "Fin contrôlée du programme de mise à jour"}}));
  EXPECT_FALSE(machine.window.quitRequested);
  EXPECT_TRUE(machine.window.formVisible);
  EXPECT_TRUE(machine.window.loopRan);
  EXPECT_FALSE(machine.window.Visible(Control::Button1));
}

TEST_F(Form1Test, ARefusedVersionRecordEndsTheDriverWithTheWindowOpen) {
  fake::InstallProduct(machine);
  fake::WritePackageDescription(machine, "2816090");
  machine.registry.FailWritesUnder(kHkeyLocalMachine, kProductKey);
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Error);
  EXPECT_EQ(Box(1).text, "Echec à la définition des données pour 'Version'");  // no full stop after "'"
  EXPECT_TRUE(machine.window.Visible(Control::Label2));
  EXPECT_FALSE(machine.window.Visible(Control::Button1));
  EXPECT_EQ(Log(kInstallLog).back(), "Fin contrôlée du programme de mise à jour");
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(Form1Test, AFailedLogSaveEndsTheDriverInTheErrorBox) {
  fake::WritePackageDescription(machine, "2816090");
  machine.files.FailNthWrite(2);  // the "CurrentDir =" line
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_EQ(Box(0).kind, BoxKind::Error);
  EXPECT_EQ(Box(0).text, std::string("Impossible de créer le fichier ") + kDesktopLog + ".");
  EXPECT_TRUE(machine.window.formVisible);
  // The shutdown save writes every line the driver had, the failed one included.
  EXPECT_EQ(Log(kDesktopLog), Concat({kStart, {"Fin contrôlée du programme de mise à jour"}}));
}

TEST_F(Form1Test, AFailedSaveAtShutdownIsShownInTheErrorBox) {
  machine.files.FailNthWrite(4);
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_EQ(Box(0).kind, BoxKind::Error);
  EXPECT_EQ(Box(0).text, std::string("Impossible de créer le fichier ") + kDesktopLog + ".");
  EXPECT_EQ(Log(kDesktopLog).back(), "Terminé");
}

// A package touching every step that exists: the main archive, two directories, a
// sub-directory archive and three registry values.
class Form1PackageTest : public Form1Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    fake::WritePackageDescription(machine, "2816090",
                                     "[subdir]\r\nData\r\nData\\Images\r\n[insubdir]\r\nData\\Images : pics.slp\r\n"
                                     "[reg]\r\nPort: integer; 8080\r\nRatio: float; 0.5\r\n" + regLine + "\r\n");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp",
                          ArchiveBytes({MemberFromBytes("a.dll", "A"), MemberFromBytes("b.dat", "BB")}));
    machine.files.AddFile("C:\\Package\\pics.slp", ArchiveBytes({MemberFromBytes("logo.bmp", "BM")}));
  }
  std::string regLine = "Flag: bool; True";
};

TEST_F(Form1PackageTest, EveryStepRunsAndRecordsWhatItCreated) {
  Run();
  EXPECT_EQ(machine.files.Content(kRecord),
            "[SurFile]\r\nb.dat\r\na.dll\r\n[SurDir]\r\nData\\Images\r\nData\r\n[SurFileDir]\r\nlogo.bmp\r\n"
            "[SurValReg]\r\nFlag\r\nRatio\r\nPort\r\n[****]\r\n")
      << machine.Dump();
  EXPECT_EQ(machine.files.Content(std::string(kTestInstallDir) + "\\Data\\Images\\logo.bmp"), "BM");
  EXPECT_EQ(machine.files.Content(std::string(kTestInstallDir) + "\\b.dat"), "BB");
  EXPECT_EQ(Log(kInstallLog), Concat({kStart, kFound, kThroughTheGates, kSteps,
                                      {"Fin contrôlée du programme de mise à jour"}}));
  for (Control label : {Control::Label1, Control::Label2, Control::Label3, Control::Label4, Control::Label5,
                        Control::Label6, Control::Button1}) {
    EXPECT_TRUE(machine.window.Visible(label)) << static_cast<int>(label);
  }
  EXPECT_TRUE(machine.dialogs.shown.size() == 1u) << machine.Dump();
}

TEST_F(Form1PackageTest, APathThatBecameADirectoryIsClearedFirstAndWhatWasDroppedAfterTheArchives) {
  fake::WritePackageDescription(machine, "2816090",
                                "[subdir]\r\nData\r\nData\\Images\r\n[insubdir]\r\nData\\Images : pics.slp\r\n"
                                "[delete]\r\nold.txt\r\nData\r\n");
  const std::string install = kTestInstallDir;
  machine.files.AddFile(install + "\\Data", "a file in the previous release");
  machine.files.AddFile(install + "\\old.txt", "dropped");
  Run();
  EXPECT_EQ(machine.files.Content(install + "\\Data\\Images\\logo.bmp"), "BM") << machine.Dump();
  EXPECT_FALSE(machine.files.FileExists(install + "\\old.txt"));
  const Lines log = Log(kInstallLog);
  const auto at = [&log](const std::string& line) { return std::find(log.begin(), log.end(), line) - log.begin(); };
  EXPECT_LT(at("Fichier supprimé : Data"), at("FileCopy effectué")) << ::testing::PrintToString(log);
  EXPECT_LT(at("Après CopyInNewDir"), at("Fichier supprimé : old.txt")) << ::testing::PrintToString(log);
  EXPECT_LT(at("Fichier supprimé : old.txt"), at("Avant MjaShellLink ")) << ::testing::PrintToString(log);
}

TEST_F(Form1PackageTest, ASecondRunLoadsTheRecordAndAddsOnlyItsMarker) {
  Run();
  const std::string first = machine.files.Content(kRecord).value_or("");
  machine.window = fake::MemoryWindow();
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "2816080");
  Run();
  EXPECT_EQ(machine.files.Content(kRecord), first + "[****]\r\n");
  const Lines log = Log(kInstallLog);
  EXPECT_NE(std::find(log.begin(), log.end(), "Chargement de WriteLogList effectué"), log.end());
}

TEST_F(Form1PackageTest, ARejectedValueEndsTheRunAndTakesItBack) {
  machine.files.AddFile(kRecord, "[SurFile]\nold.dll\n[****]");
  regLine = "Flag: bool; peut-être";
  SetUp();
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Error);
  EXPECT_EQ(Box(1).text, "'peut-être' n'est pas une valeur booléenne correcte.");
  EXPECT_EQ(machine.files.Content(kRecord), "[SurFile]\nold.dll\n[****]");
  const Lines log = Log(kInstallLog);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(Lines(log.end() - 4, log.end() - 1),
            (Lines{"Avant MjaVarnoReg  ", "Annulation de la mise à jour", "Mise à jour annulée, installation restaurée"}));
  EXPECT_FALSE(machine.window.Visible(Control::Button1));
  EXPECT_EQ(machine.window.Caption(Control::Label1), "La mise à jour a été annulée");
}

TEST_F(Form1PackageTest, AFailedRecordSaveKeepsThePreviousRecordWhole) {
  machine.files.AddFile(kRecord, "[SurFile]\r\nold.dll\r\n[****]\r\n");
  machine.files.SetReadOnly(kRecord);
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).text, std::string("Impossible de créer le fichier ") + kRecord + ".");
  EXPECT_EQ(machine.files.Content(kRecord), "[SurFile]\r\nold.dll\r\n[****]\r\n");
  EXPECT_EQ(Log(kInstallLog).back(), "Fin contrôlée du programme de mise à jour");
  EXPECT_FALSE(machine.window.Visible(Control::Button1));
}

TEST_F(Form1Test, AFailedDatabaseUpdateIsToldAndTheRunStillFinishes) {
  fake::InstallProduct(machine);
  fake::WritePackageDescription(machine, "2816090");
  machine.libraries.Add(std::string(kTestInstallDir) + "\\VarnoUpDate.dll").exports["VarnoTableInstall"] = [] {
    return 0x100u;
  };
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Message);
  EXPECT_EQ(Box(1).text,
            "L'installateur a rencontré un problème inconnu et n'a pas pu initialiser la base de donnée\r"
            "Demandez assistance par email à\r   assistance@tolmerik.fr");
  const Lines log = Log(kInstallLog);
  EXPECT_EQ(log[log.size() - 2], "Après SetUpDateTable");
  EXPECT_TRUE(machine.window.Visible(Control::Button1));
}

TEST_F(Form1Test, AFailedRegistrationEndsTheRunBeforeTheDatabaseUpdate) {
  fake::InstallProduct(machine);
  fake::WritePackageDescription(machine, "2816090");
  machine.libraries.Add("C:\\WINDOWS\\system32\\Varxxlith.ocx").exports["DllRegisterServer"] = [] { return 1u; };
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Error);
  // The text ends with a quote, which sorts before the full stop: none is added.
  EXPECT_EQ(Box(1).text, "L'appel à DllRegisterServer a échoué dans \"C:\\WINDOWS\\system32\\Varxxlith.ocx\"");
  const Lines log = Log(kInstallLog);
  EXPECT_EQ(log[log.size() - 4], "Enregistrement de Varxxlith.ocx dans C:\\WINDOWS\\system32");
  EXPECT_EQ(fake::DatabaseLevel(machine), -1);
  EXPECT_FALSE(machine.window.Visible(Control::Button1));
  EXPECT_FALSE(machine.files.FileExists(kRecord)) << "saved before the closing stages, then taken back";
}

TEST_F(Form1Test, AnUnforeseenFailureIsShownInTheErrorBoxToo) {
  fake::InstallProduct(machine);
  fake::WritePackageDescription(machine, "2816090");
  machine.libraries.Add(std::string(kTestInstallDir) + "\\VarnoUpDate.dll").exports["VarnoTableInstall"] =
      []() -> uint32_t { throw std::bad_alloc(); };
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(Box(1).kind, BoxKind::Error);
  EXPECT_EQ(Box(1).text, std::string(std::bad_alloc().what()) + ".");
  EXPECT_FALSE(machine.window.Visible(Control::Button1));
  EXPECT_EQ(Log(kInstallLog).back(), "Fin contrôlée du programme de mise à jour");
}

TEST_F(Form1Test, QuitterAsksTheApplicationToEnd) {
  Platform platform = machine.platform();
  TForm1 form(platform, kFamily);
  form.Button1Click();
  EXPECT_TRUE(machine.window.quitRequested);
}

TEST(LaunchActionProgram, StartsActionExeOfTheCurrentDirectoryOnlyWhenPresent) {
  MemoryMachine machine;
  Platform platform = machine.platform();
  LaunchActionProgram(platform);
  EXPECT_TRUE(machine.processes.started.empty());

  machine.files.AddFile("C:\\Package\\Action.exe", "MZ");
  LaunchActionProgram(platform);
  EXPECT_EQ(machine.processes.started, Lines{"Action.exe"});

  machine.processes.refuseStart = true;  // a failure to start is not reported
  LaunchActionProgram(platform);
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST(GiveLabelsTheirRunCaptions, SetsEveryLabelAndShowsNone) {
  MemoryMachine machine;
  GiveLabelsTheirRunCaptions(machine.window);
  EXPECT_EQ(machine.window.Caption(Control::Label1), "Mise à jour en cours d'exécution");
  EXPECT_EQ(machine.window.Caption(Control::Label2), "Mise à jour des fichiers\r\nFiles Update");
  EXPECT_EQ(machine.window.Caption(Control::Label3), "Validation de la version");
  EXPECT_EQ(machine.window.Caption(Control::Label4), "Mise à jour des raccourcis");
  EXPECT_EQ(machine.window.Caption(Control::Label5), "Mise à jour du registre");
  EXPECT_EQ(machine.window.Caption(Control::Label6), "Mise à jour des répertoires");
  for (size_t i = 0; i < 7; ++i) EXPECT_FALSE(machine.window.visible[i]);
}

}  // namespace
}  // namespace varno
