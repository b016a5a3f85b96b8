#include "app/form1.h"

#include <gtest/gtest.h>

#include "base/text_lines.h"
#include "support/memory_machine.h"

namespace varno {
namespace {

using testing::MemoryMachine;
using Lines = std::vector<std::string>;

constexpr char kDesktopLog[] = "C:\\Users\\Pierre\\Desktop\\VarnoMaJLog.txt";

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override { machine.files.AddFile("C:\\Package\\MjaIni.ini", "titre\r\n2816090\r\n"); }

  // The updater's whole life: the form runs the update, the loop runs unless the run asked
  // to end, the form is destroyed.
  void Run() {
    Platform platform = machine.platform();
    RunApplication(platform);
  }

  // The driver alone, with the versions that the installation check would have found.
  void RunDriver(const std::string& newVersion, const std::string& installedVersion) {
    Platform platform = machine.platform();
    TForm1 form(platform);
    form.MutableState().newVersion = newVersion;
    form.MutableState().installedVersion = installedVersion;
    form.FormCreate();
    form.FormDestroy();
  }

  Lines Log(const std::string& path = kDesktopLog) {
    return SplitTextLines(machine.files.Content(path).value_or("<no log>"));
  }

  MemoryMachine machine;
};

TEST_F(Form1Test, WithoutPackageDescriptionItEndsSilentlyAfterFourLogLines) {
  machine.files.RemoveFile("C:\\Package\\MjaIni.ini");
  Run();
  EXPECT_EQ(Log(), (Lines{"Mise à jour Varnolith", "CurrentDir =C:\\Package", "Fichier Ini  manquant", "Terminé",
                          "Fin contrôlée du programme de mise à jour"}))
      << machine.Dump();
  EXPECT_TRUE(machine.dialogs.shown.empty());
  EXPECT_TRUE(machine.window.quitRequested);
  EXPECT_FALSE(machine.window.formVisible);
  EXPECT_FALSE(machine.window.loopRan);
}

TEST_F(Form1Test, TheCurrentDirectoryIsLoggedAsReadAndKeptWithoutBackslash) {
  machine.files.SetCurrentDirectory("C:\\");
  Platform platform = machine.platform();
  TForm1 form(platform);
  form.FormCreate();
  EXPECT_EQ(Log()[1], "CurrentDir =C:\\");
  EXPECT_EQ(form.State().packageDir, "C:");
  EXPECT_EQ(form.State().packageDescriptionPath, "C:\\MjaIni.ini");
}

TEST_F(Form1Test, WithoutDesktopTheLogStaysInThePackageDirectory) {
  machine.shell.folders.clear();
  machine.files.RemoveFile("C:\\Package\\MjaIni.ini");
  Run();
  EXPECT_EQ(Log("C:\\Package\\VarnoMaJLog.txt").size(), 5u) << machine.Dump();
}

TEST_F(Form1Test, AnswerNonEndsTheRunAfterLoggingIt) {
  machine.dialogs.answers = {false};
  RunDriver("2816090", "2816080");
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Confirmation);
  EXPECT_EQ(machine.dialogs.shown[0].text, "Voulez-vous installer la mise à jour de Varnolith ?");
  EXPECT_EQ(Log(), (Lines{"Mise à jour Varnolith", "CurrentDir =C:\\Package", "Réponse NON à l'invite de mise à jour",
                          "Fin contrôlée du programme de mise à jour"}));
  EXPECT_TRUE(machine.window.quitRequested);
}

TEST_F(Form1Test, ANewerInstallationIsRefusedWithAMessage) {
  RunDriver("2816080", "2816090");
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown[1].kind, BoxKind::Message);
  EXPECT_EQ(machine.dialogs.shown[1].text,
            "La version installée est plus récente que la mise à jour.\nLa mise à jour ne peut être exécutée.");
  EXPECT_EQ(Log().at(2), "Réponse OUI à l'invite de mise à jour");
  EXPECT_EQ(Log().size(), 4u);  // nothing logged on this path before the shutdown line
  EXPECT_TRUE(machine.window.quitRequested);
}

TEST_F(Form1Test, ANewerInstallationEndsSilentlyWhenThePackageCarriesActionExe) {
  machine.files.AddFile("C:\\Package\\Action.exe", "MZ");
  RunDriver("1", "2");
  EXPECT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_TRUE(machine.processes.started.empty());
  EXPECT_TRUE(machine.window.quitRequested);
}

TEST_F(Form1Test, AnEqualVersionAsksAgainAfterLoggingTheComparison) {
  machine.dialogs.answers = {true, false};
  RunDriver("2816090", "2816090");
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown[1].kind, BoxKind::Warning);
  EXPECT_EQ(machine.dialogs.shown[1].text,
            "Cette Mise à jour est déjà effective.\rVoulez-vous vraiment la reproduire ?");
  EXPECT_EQ(Log(), (Lines{"Mise à jour Varnolith", "CurrentDir =C:\\Package", "Réponse OUI à l'invite de mise à jour",
                          "Version installée moins récente que la nouvelle",
                          "Fin contrôlée du programme de mise à jour"}));
  EXPECT_TRUE(machine.window.quitRequested);
}

TEST_F(Form1Test, AnOlderInstallationPassesTheGateWithoutAWarning) {
  RunDriver("2816090", "2816080");
  EXPECT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_EQ(Log().at(3), "Version installée moins récente que la nouvelle");
  EXPECT_FALSE(machine.window.quitRequested);
}

TEST_F(Form1Test, AnUnknownInstalledVersionEndsInTheErrorBoxAndTheWindowStays) {
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown[1].kind, BoxKind::Error);
  EXPECT_EQ(machine.dialogs.shown[1].title, "Varnolith_maj_solo");
  EXPECT_EQ(machine.dialogs.shown[1].text, "'' n'est pas une valeur entière correcte.");
  EXPECT_FALSE(machine.window.quitRequested);
  EXPECT_TRUE(machine.window.formVisible);
  EXPECT_TRUE(machine.window.loopRan);
  EXPECT_FALSE(machine.window.Visible(Control::Button1));
  EXPECT_EQ(Log().back(), "Fin contrôlée du programme de mise à jour");
}

TEST_F(Form1Test, TheNewVersionIsConvertedFirst) {
  RunDriver("x1", "");
  EXPECT_EQ(machine.dialogs.shown.back().text, "'x1' n'est pas une valeur entière correcte.");
}

TEST_F(Form1Test, AFailedLogSaveEndsTheDriverInTheErrorBox) {
  machine.files.FailNthWrite(2);  // the "CurrentDir =" line
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Error);
  EXPECT_EQ(machine.dialogs.shown[0].text, std::string("Impossible de créer le fichier ") + kDesktopLog + ".");
  EXPECT_TRUE(machine.window.formVisible);
  // The shutdown save writes every line the driver had, the failed one included.
  EXPECT_EQ(Log(), (Lines{"Mise à jour Varnolith", "CurrentDir =C:\\Package",
                          "Fin contrôlée du programme de mise à jour"}));
}

TEST_F(Form1Test, AFailedSaveAtShutdownIsShownInTheErrorBox) {
  machine.files.RemoveFile("C:\\Package\\MjaIni.ini");
  machine.files.FailNthWrite(4);
  Run();
  ASSERT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Error);
  EXPECT_EQ(machine.dialogs.shown[0].text, std::string("Impossible de créer le fichier ") + kDesktopLog + ".");
  EXPECT_EQ(Log().back(), "Terminé");
}

TEST_F(Form1Test, QuitterAsksTheApplicationToEnd) {
  Platform platform = machine.platform();
  TForm1 form(platform);
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
