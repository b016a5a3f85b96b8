#include "steps/file_steps.h"

#include <gtest/gtest.h>

#include "base/update_error.h"
#include "package/archive_writer.h"
#include "support/memory_machine.h"

namespace varno {
namespace {

using Lines = std::vector<std::string>;
using fake::MemoryMachine;

constexpr char kInstallDir[] = "C:\\Program Files\\Tolmerik\\Varnolith";
constexpr char kDescription[] = "C:\\Package\\MjaIni.ini";

class FileStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.files.AddDirectory(kInstallDir);
    state.packageDir = "C:\\Package";
    state.packageDescriptionPath = kDescription;
    state.installDir = kInstallDir;
  }

  void Description(const std::string& sections) {
    // Sections normally follow the 21 header lines.
    machine.files.AddFile(kDescription, "1\r\n1021\r\n" + std::string(19, '\n') + sections);
  }
  void Archive(const std::string& name, const std::vector<ArchiveSource>& members) {
    machine.files.AddFile("C:\\Package\\" + name, ArchiveBytes(members));
  }
  std::string Installed(const std::string& relative) {
    return machine.files.Content(std::string(kInstallDir) + "\\" + relative).value_or("<no file>");
  }
  bool InstalledDirectory(const std::string& relative) {
    return machine.files.DirectoryExists(std::string(kInstallDir) + "\\" + relative);
  }
  std::string State() { return machine.Dump() + "--- record\n" + ::testing::PrintToString(record.Lines()); }

  void FileCopy() { varno::FileCopy(platform, state, record); }
  void CreateNewDir() { varno::CreateNewDir(platform, state, record); }
  bool CopyInNewDir() { return varno::CopyInNewDir(platform, state, record); }

  MemoryMachine machine;
  Platform platform = machine.platform();
  RunState state;
  WriteLogList record;
};

TEST_F(FileStepsTest, FileCopyPlacesItsHeaderAtTheTopEvenWithoutAnArchive) {
  record.Append("[SurDir]");
  record.Append("[****]");
  FileCopy();
  FileCopy();
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "[SurDir]", "[****]"}));
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(FileStepsTest, FileCopyUnpacksIntoTheInstallationBelowTheHeaderWhereverItStands) {
  record.Append("[SurDir]");
  record.Append("[surfile]");
  record.Append("old.dll");
  Archive("sor_ti1.slp", {MemberFromBytes("a.dll", "A"), MemberFromBytes("b.dat", "B")});
  FileCopy();
  EXPECT_EQ(Installed("a.dll"), "A");
  EXPECT_EQ(Installed("b.dat"), "B");
  EXPECT_EQ(record.Lines(), (Lines{"[SurDir]", "[surfile]", "b.dat", "a.dll", "old.dll"})) << State();
}

TEST_F(FileStepsTest, CreateNewDirDoesNothingWithoutEntries) {
  CreateNewDir();  // no description
  for (const char* sections : {"[subdir]", "[subdir]\r\n", "[SUBDIR]\r\n[reg]\r\nData\r\n", "[desk]\r\nData\r\n"}) {
    Description(sections);
    CreateNewDir();
    EXPECT_EQ(record.Count(), 0u) << sections;
  }
  EXPECT_FALSE(InstalledDirectory("Data"));
}

TEST_F(FileStepsTest, CreateNewDirMakesOneLevelPerLineAndRecordsTheLinesAsWritten) {
  machine.files.AddDirectory(std::string(kInstallDir) + "\\Existing");
  record.Append("[****]");
  Description("[subdir]\r\nData\\Images\r\nData\r\n\r\nexisting\r\nDATA\\Sons\r\n[reg]\r\nIgnored\r\n");
  CreateNewDir();
  EXPECT_TRUE(InstalledDirectory("Data"));
  EXPECT_TRUE(InstalledDirectory("Data\\Sons"));
  EXPECT_FALSE(InstalledDirectory("Data\\Images")) << "listed before its parent";
  EXPECT_FALSE(InstalledDirectory("Ignored"));
  EXPECT_EQ(record.Lines(), (Lines{"[****]", "[SurDir]", "DATA\\Sons", "Data"})) << State();
}

TEST_F(FileStepsTest, CreateNewDirPlacesItsHeaderEvenWhenEverythingExists) {
  machine.files.AddDirectory(std::string(kInstallDir) + "\\Data");
  machine.files.RefuseWritesUnder(kInstallDir);
  Description("[subdir]\r\nData\r\nRefused\r\n");
  record.Append("[SurFile]");
  record.Append("[****]");
  CreateNewDir();
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "[****]", "[SurDir]"}));
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(FileStepsTest, ADescriptionThatCannotBeReadEndsTheRun) {
  Description("[subdir]\r\nData\r\n[insubdir]\r\n");
  machine.files.SetInUse(kDescription);
  EXPECT_THROW(CreateNewDir(), UpdateError);
  EXPECT_THROW(CopyInNewDir(), UpdateError);
}

TEST_F(FileStepsTest, CopyInNewDirReportsAVanishedDescription) {
  EXPECT_FALSE(CopyInNewDir());
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Message);
  EXPECT_EQ(machine.dialogs.shown[0].text, "fichier manquant : C:\\Package\\MjaIni.ini");
  EXPECT_EQ(record.Count(), 0u);
}

TEST_F(FileStepsTest, CopyInNewDirIsTrueWheneverTheSectionExists) {
  Description("[subdir]\r\nData\r\n");
  EXPECT_FALSE(CopyInNewDir());
  EXPECT_EQ(record.Count(), 0u);
  Description("[InSubDir]\r\n[reg]\r\n");
  EXPECT_TRUE(CopyInNewDir());
  EXPECT_EQ(record.Lines(), Lines{"[SurFileDir]"});
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(FileStepsTest, SplitsInSubDirLinesAtTheFirstColonDroppingOneCharacter) {
  auto split = [](const char* line) {
    const auto entry = SplitSubDirArchive(line);
    return entry ? entry->subDirectory + "|" + entry->archiveName : std::string("<none>");
  };
  EXPECT_EQ(split("Images : pics.slp"), "Images|pics.slp");
  EXPECT_EQ(split(" \tData\\Images\t:\tpics.slp \r"), "Data\\Images|pics.slp");
  EXPECT_EQ(split("Images:pics.slp"), "Images|ics.slp");
  EXPECT_EQ(split("Images :  a:b.slp"), "Images|a:b.slp");
  EXPECT_EQ(split("Images:"), "Images|");
  EXPECT_EQ(split("Images pics.slp"), "<none>");
}

TEST_F(FileStepsTest, CopyInNewDirUnpacksEachArchiveIntoItsSubDirectory) {
  machine.files.AddDirectory(std::string(kInstallDir) + "\\Images");
  machine.files.AddDirectory(std::string(kInstallDir) + "\\Sons");
  Archive("pics.slp", {MemberFromBytes("a.png", "A1"), MemberFromBytes("shared.dat", "from pics")});
  Archive("more.slp", {MemberFromBytes("shared.dat", "from more"), MemberFromBytes("b.png", "B")});
  Archive("sons.slp", {MemberFromBytes("s.wav", "S")});
  Archive("ics.slp", {MemberFromBytes("wrong.png", "W")});
  Archive("lost.slp", {MemberFromBytes("lost.png", "L")});
  record.Append("[SurFileDir]");
  record.Append("[****]");
  Description(
      "[insubdir]\r\n"
      "Images : pics.slp\r\n"
      "Sons : missing.slp\r\n"
      "\r\n"
      "Images : more.slp\r\n"
      "Sons:sons.slp\r\n"            // no blank: "ons.slp", which does not exist
      "Images:pics.slp\r\n"          // no blank: "ics.slp", which does
      "Images pics.slp\r\n"          // no colon
      "Absent : lost.slp\r\n");      // a sub-directory that does not exist
  EXPECT_TRUE(CopyInNewDir());
  EXPECT_EQ(Installed("Images\\a.png"), "A1");
  EXPECT_EQ(Installed("Images\\shared.dat"), "from more");
  EXPECT_EQ(Installed("Images\\b.png"), "B");
  EXPECT_EQ(Installed("Images\\wrong.png"), "W");
  EXPECT_EQ(Installed("Sons\\s.wav"), "<no file>");
  EXPECT_FALSE(InstalledDirectory("Absent"));
  EXPECT_EQ(record.Lines(), (Lines{"[SurFileDir]", "lost.png", "wrong.png", "b.png", "shared.dat", "a.png", "[****]"}))
      << State();
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

// A record that does not exist yet; a first run whose archive creates a.dll then b.dat,
// whose directory step creates Data and whose registry step creates Port; a second run with
// c.ocx and one desktop shortcut.
TEST_F(FileStepsTest, TwoRunsLeaveTheRecordAsDescribed) {
  const std::string recordPath = std::string(kInstallDir) + "\\UninstCgg.slt";
  Archive("sor_ti1.slp", {MemberFromBytes("a.dll", "a"), MemberFromBytes("b.dat", "b")});
  Description("[subdir]\r\nData\r\n");
  FileCopy();
  CreateNewDir();
  EXPECT_FALSE(CopyInNewDir());
  record.RecordEntry(record.EnsureSection("[SurValReg]", Placement::End), "Port");
  record.AppendRunMarker();
  record.SaveToFile(machine.files, recordPath);

  WriteLogList second;
  second.LoadFromFile(machine.files, recordPath);
  Archive("sor_ti1.slp", {MemberFromBytes("a.dll", "a2"), MemberFromBytes("c.ocx", "c")});
  varno::FileCopy(platform, state, second);
  varno::CreateNewDir(platform, state, second);
  second.RecordEntry(second.EnsureSection("[SurDeskLink]", Placement::End), "Varnolith 10.2.lnk");
  second.AppendRunMarker();
  second.SaveToFile(machine.files, recordPath);
  EXPECT_EQ(machine.files.Content(recordPath),
            "[SurFile]\r\nc.ocx\r\nb.dat\r\na.dll\r\n[SurDir]\r\nData\r\n[SurValReg]\r\nPort\r\n[****]\r\n"
            "[SurDeskLink]\r\nVarnolith 10.2.lnk\r\n[****]\r\n");
}

}  // namespace
}  // namespace varno
