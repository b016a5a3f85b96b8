#include "app/run_log.h"

#include <gtest/gtest.h>

#include "base/update_error.h"
#include "support/memory_machine.h"

namespace varno {
namespace {

using fake::kTestDesktop;
using fake::MemoryMachine;

constexpr char kDesktopLog[] = "C:\\Users\\Pierre\\Desktop\\VarnoMaJLog.txt";
constexpr char kInstallDir[] = "C:\\Program Files\\TolMerik\\Varnolith";
constexpr char kInstallLog[] = "C:\\Program Files\\TolMerik\\Varnolith\\VarnoMaJLog.txt";

class RunLogTest : public ::testing::Test {
 protected:
  std::string File(const std::string& path) { return machine.files.Content(path).value_or("<no file>"); }

  MemoryMachine machine;
  RunLog log{machine.files};
};

TEST_F(RunLogTest, StartsOnTheDesktopWithItsFirstLineSaved) {
  log.Start(kTestDesktop);
  EXPECT_EQ(log.Path(), kDesktopLog);
  EXPECT_EQ(File(kDesktopLog), "Mise \xE0 jour Varnolith\r\n");
}

TEST_F(RunLogTest, TakesTheDesktopWithOrWithoutTrailingBackslash) {
  log.Start(std::string(kTestDesktop) + "\\");
  EXPECT_EQ(log.Path(), kDesktopLog);
}

TEST_F(RunLogTest, FallsBackToTheCurrentDirectoryWithoutADesktop) {
  log.Start("C:\\Users\\Nobody\\Desktop");
  EXPECT_EQ(log.Path(), "VarnoMaJLog.txt");
  EXPECT_EQ(File("C:\\Package\\VarnoMaJLog.txt"), "Mise à jour Varnolith\r\n");

  RunLog other(machine.files);
  other.Start("");
  EXPECT_EQ(other.Path(), "VarnoMaJLog.txt");
}

TEST_F(RunLogTest, SavesTheWholeListAtEachLoggedLine) {
  log.Start(kTestDesktop);
  log.Log("CurrentDir =C:\\Package");
  EXPECT_EQ(File(kDesktopLog), "Mise à jour Varnolith\r\nCurrentDir =C:\\Package\r\n");
  log.LogWithNoSave("ValidControl terminé avec succès");
  EXPECT_EQ(File(kDesktopLog), "Mise à jour Varnolith\r\nCurrentDir =C:\\Package\r\n");
  log.Log("Chemin de Varnolith installé :");
  EXPECT_EQ(File(kDesktopLog),
            "Mise à jour Varnolith\r\nCurrentDir =C:\\Package\r\nValidControl terminé avec succès\r\n"
            "Chemin de Varnolith installé :\r\n");
}

TEST_F(RunLogTest, ALineHoldingCrLfBecomesTwoLinesInTheFile) {
  log.Start(kTestDesktop);
  log.Log("Fichier Ini  manquant\r\nTerminé");
  log.Finish();
  EXPECT_EQ(File(kDesktopLog),
            "Mise à jour Varnolith\r\nFichier Ini  manquant\r\nTerminé\r\nFin contrôlée du programme de mise à jour\r\n");
}

TEST_F(RunLogTest, MovesIntoTheInstallationDirectory) {
  machine.files.AddDirectory(kInstallDir);
  log.Start(kTestDesktop);
  log.MoveInto(kInstallDir);
  EXPECT_EQ(log.Path(), kInstallLog);
  EXPECT_FALSE(machine.files.FileExists(kDesktopLog));
  EXPECT_EQ(File(kInstallLog), "Mise à jour Varnolith\r\n");
  log.Log("Réponse OUI à l'invite de mise à jour");
  EXPECT_EQ(File(kInstallLog), "Mise à jour Varnolith\r\nRéponse OUI à l'invite de mise à jour\r\n");
}

TEST_F(RunLogTest, AnEarlierLogInTheWayIsReplacedAndTheDesktopCopyDeleted) {
  machine.files.AddFile(kInstallLog, "old run\r\n");
  log.Start(kTestDesktop);
  log.MoveInto(kInstallDir);
  EXPECT_FALSE(machine.files.FileExists(kDesktopLog)) << machine.Dump();
  EXPECT_EQ(File(kInstallLog), "old run\r\n");  // the deletion line waits for the next save
  log.Log("Réponse NON à l'invite de mise à jour");
  EXPECT_EQ(File(kInstallLog),
            "Mise à jour Varnolith\r\nLe fichier journal provisoire a été supprimé du bureau\r\n"
            "Réponse NON à l'invite de mise à jour\r\n");
}

TEST_F(RunLogTest, AFailedDeletionOfTheFirstFileIsLogged) {
  machine.files.AddFile(kInstallLog, "old run\r\n");
  log.Start(kTestDesktop);
  machine.files.SetInUse(kDesktopLog);
  log.MoveInto(kInstallDir);
  log.Log("x");
  EXPECT_EQ(File(kInstallLog),
            "Mise à jour Varnolith\r\nEchec à la suppression du fichier journal provisoire du bureau\r\nx\r\n");
  EXPECT_TRUE(machine.files.FileExists(kDesktopLog));
}

TEST_F(RunLogTest, MovesFromTheCurrentDirectoryWithTheSameWords) {
  machine.files.AddFile(kInstallLog, "old\r\n");
  log.Start("");
  log.MoveInto(kInstallDir);
  log.Finish();
  EXPECT_FALSE(machine.files.FileExists("C:\\Package\\VarnoMaJLog.txt"));
  EXPECT_EQ(File(kInstallLog),
            "Mise à jour Varnolith\r\nLe fichier journal provisoire a été supprimé du bureau\r\n"
            "Fin contrôlée du programme de mise à jour\r\n");
}

TEST_F(RunLogTest, AFailedSaveRaisesTheErrorAndKeepsThePreviousFileWhole) {
  log.Start(kTestDesktop);
  log.Log("second");
  machine.files.FailNthWrite(1);
  try {
    log.Log("third");
    FAIL() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible de créer le fichier " + std::string(kDesktopLog));
  }
  EXPECT_EQ(File(kDesktopLog), "Mise à jour Varnolith\r\nsecond\r\n");
  // The line stays in the list and reaches the file with the next save that succeeds.
  log.Log("fourth");
  EXPECT_EQ(File(kDesktopLog), "Mise à jour Varnolith\r\nsecond\r\nthird\r\nfourth\r\n");
}

TEST_F(RunLogTest, AFullDiskFailsTheSaveWithoutTruncatingTheLog) {
  log.Start(kTestDesktop);
  machine.files.SetFreeSpace(10);
  EXPECT_THROW(log.Log("a line longer than the free space"), UpdateError);
  EXPECT_EQ(File(kDesktopLog), "Mise à jour Varnolith\r\n");
}

// A user who may write beside the log plants its temporary name, as a directory or as a
// file they keep open: the saves go on, and what they planted is left as it was.
TEST_F(RunLogTest, WhatAUserPlantsAtTheTemporaryNameStopsNoSave) {
  const std::string temporary = std::string(kInstallLog) + ".tmp";
  for (const bool directory : {true, false}) {
    MemoryMachine m;
    if (directory) {
      m.files.AddDirectory(temporary);
    } else {
      m.files.PlantAsStandardUser(temporary, "theirs");
      m.files.SetInUse(temporary);
    }
    RunLog planted(m.files);
    planted.Start(kInstallDir);
    ASSERT_NO_THROW(planted.Log("second")) << m.files.Dump();
    EXPECT_EQ(m.files.Content(kInstallLog), "Mise à jour Varnolith\r\nsecond\r\n") << m.files.Dump();
    EXPECT_EQ(m.files.DirectoryExists(temporary), directory);
    if (!directory) EXPECT_EQ(m.files.Content(temporary), "theirs");
    EXPECT_EQ(m.files.List(kInstallDir).size(), 2u) << "no temporary file left\n" << m.files.Dump();
  }
}

TEST_F(RunLogTest, ARefusedDesktopFailsTheVeryFirstSave) {
  machine.files.RefuseWritesUnder(kTestDesktop);
  EXPECT_THROW(log.Start(kTestDesktop), UpdateError);
  EXPECT_FALSE(machine.files.FileExists(kDesktopLog));
}

// A link on the desktop, in the package directory, or a desktop that is one, is never
// written, moved or deleted: the lines wait for the installation, which says why.
TEST_F(RunLogTest, ALinkedFirstPathIsLeftAloneAndTheInstallationLogSaysSo) {
  const std::string packageLog = "C:\\Package\\VarnoMaJLog.txt";
  struct Case {
    const char* what;
    std::string linked, desktop, firstPath, named;
  };
  for (const Case& c :
       {Case{"a linked file on the desktop", kDesktopLog, kTestDesktop, kDesktopLog, kDesktopLog},
        Case{"a desktop that is a junction", kTestDesktop, kTestDesktop, kDesktopLog, kDesktopLog},
        Case{"a linked file in the package directory", packageLog, "", packageLog, "VarnoMaJLog.txt"}}) {
    MemoryMachine fresh;
    fresh.files.AddDirectory(kInstallDir);
    const bool linkedFile = c.linked.ends_with(".txt");
    if (linkedFile) fresh.files.AddFile(c.linked, "somebody else's file");
    fresh.files.SetLinked(c.linked);
    const std::string untouched = linkedFile ? "somebody else's file" : "<no file>";
    RunLog linked(fresh.files);
    linked.Start(c.desktop);
    linked.Log("CurrentDir =C:\\Package");
    EXPECT_EQ(fresh.files.Content(c.firstPath).value_or("<no file>"), untouched) << c.what;
    linked.MoveInto(kInstallDir);
    linked.Finish();
    EXPECT_EQ(fresh.files.Content(kInstallLog).value_or("<no file>"),
              "Mise à jour Varnolith\r\nCurrentDir =C:\\Package\r\n"
              "Journal provisoire non écrit, le fichier ou son répertoire est un lien : " + c.named +
                  "\r\nFin contrôlée du programme de mise à jour\r\n")
        << c.what;
    EXPECT_EQ(fresh.files.Content(c.firstPath).value_or("<no file>"), untouched) << c.what;
  }
}

TEST_F(RunLogTest, AGivenPathGetsItsMissingDirectoriesEachLogged) {
  machine.files.AddDirectory("C:\\ProgramData");
  log.StartAt("C:\\ProgramData\\Tolmerik\\Journaux\\VarnoMaJLog.txt");
  EXPECT_EQ(File("C:\\ProgramData\\Tolmerik\\Journaux\\VarnoMaJLog.txt"),
            "Mise à jour Varnolith\r\nRépertoire du journal créé : C:\\ProgramData\\Tolmerik\r\n"
            "Répertoire du journal créé : C:\\ProgramData\\Tolmerik\\Journaux\r\n");
}

TEST_F(RunLogTest, AGivenPathThatCannotBeWrittenRaisesAndLeavesNoDirectory) {
  machine.files.AddFile("C:\\Logs\\a file", "x");
  EXPECT_THROW(log.StartAt("C:\\Logs\\a file\\run.log"), LogUnwritable);

  // The directories are made, then the file cannot be written: they go again.
  const std::string before = machine.files.Dump();
  machine.files.FailNthWrite(1);
  try {
    RunLog(machine.files).StartAt("C:\\New\\Deeper\\run.log");
    FAIL() << "no error raised";
  } catch (const LogUnwritable& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible de créer le fichier C:\\New\\Deeper\\run.log");
  }
  EXPECT_EQ(machine.files.Dump(), before);
}

}  // namespace
}  // namespace varno
