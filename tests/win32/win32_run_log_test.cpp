// The run log on a real disk: exact bytes, the move, the failed save.
#include <gtest/gtest.h>

#include "app/run_log.h"
#include "base/update_error.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

class Win32RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(desktop.c_str(), nullptr);
    CreateDirectoryA(installDir.c_str(), nullptr);
  }

  ScratchDirectory scratch;
  std::string desktop = scratch.In("Desktop");
  std::string installDir = scratch.In("Varnolith");
  win32::Win32FileSystem files;
  RunLog log{files};
};

TEST_F(Win32RunLogTest, WritesWindows1252LinesEndedByCrLf) {
  log.Start(desktop + "\\");
  log.Log("Fichier Ini  manquant\r\nTerminé");
  log.Finish();
  EXPECT_EQ(ReadBytes(desktop + "\\VarnoMaJLog.txt"),
            "Mise \xE0 jour Varnolith\r\nFichier Ini  manquant\r\nTermin\xE9\r\n"
            "Fin contr\xF4l\xE9" "e du programme de mise \xE0 jour\r\n");
  EXPECT_EQ(ListDirectory(desktop), std::vector<std::string>{"VarnoMaJLog.txt"});
}

TEST_F(Win32RunLogTest, MovesOverAnEarlierLogByDeletingTheFirstFile) {
  WriteBytes(installDir + "\\VarnoMaJLog.txt", "old run\r\nmore\r\n");
  log.Start(desktop);
  log.MoveInto(installDir);
  log.Log("Réponse NON à l'invite de mise à jour");
  EXPECT_TRUE(ListDirectory(desktop).empty());
  EXPECT_EQ(ReadBytes(installDir + "\\VarnoMaJLog.txt"),
            "Mise \xE0 jour Varnolith\r\nLe fichier journal provisoire a \xE9t\xE9 supprim\xE9 du bureau\r\n"
            "R\xE9ponse NON \xE0 l'invite de mise \xE0 jour\r\n");
}

TEST_F(Win32RunLogTest, MovesTheFileWhenNothingIsInTheWay) {
  log.Start(desktop);
  log.Log("second");
  log.MoveInto(installDir);
  EXPECT_TRUE(ListDirectory(desktop).empty());
  EXPECT_EQ(ReadBytes(installDir + "\\VarnoMaJLog.txt"), "Mise \xE0 jour Varnolith\r\nsecond\r\n");
}

TEST_F(Win32RunLogTest, AFailedSaveRaisesTheErrorAndLeavesTheFileWhole) {
  log.Start(desktop);
  const std::string path = desktop + "\\VarnoMaJLog.txt";
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  try {
    log.Log("second");
    ADD_FAILURE() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible de cr\xE9" "er le fichier " + path);
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadBytes(path), "Mise \xE0 jour Varnolith\r\n");
  EXPECT_EQ(ListDirectory(desktop), std::vector<std::string>{"VarnoMaJLog.txt"});
}

// A second name of another file on the desktop: the system counts the file's names.
TEST_F(Win32RunLogTest, AHardLinkOnTheDesktopIsNeitherWrittenNorMoved) {
  const std::string other = scratch.In("protected.txt");
  const std::string link = desktop + "\\VarnoMaJLog.txt";
  WriteBytes(other, "somebody else's file");
  ASSERT_TRUE(CreateHardLinkA(link.c_str(), other.c_str(), nullptr));
  EXPECT_FALSE(files.IsLinked(other + "x"));
  EXPECT_TRUE(files.IsLinked(link));
  log.Start(desktop);
  log.Log("second");
  log.MoveInto(installDir);
  log.Finish();
  EXPECT_EQ(ReadBytes(other), "somebody else's file");
  EXPECT_EQ(ReadBytes(link), "somebody else's file");
  EXPECT_EQ(ReadBytes(installDir + "\\VarnoMaJLog.txt"),
            "Mise \xE0 jour Varnolith\r\nsecond\r\nJournal provisoire non \xE9" "crit, le fichier ou son r\xE9pertoire est un lien : " +
                link + "\r\nFin contr\xF4l\xE9" "e du programme de mise \xE0 jour\r\n");
  DeleteFileA(link.c_str());
  EXPECT_FALSE(files.IsLinked(other)) << "one name left";
}

}  // namespace
}  // namespace varno::fake
