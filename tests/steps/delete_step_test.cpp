// The removal step on the in-memory machine, through the journal as the driver runs it: what
// "[delete]" lists goes, leaves the uninstall record, and comes back with a rollback.
#include "steps/delete_step.h"

#include <gtest/gtest.h>

#include "package/archive_writer.h"
#include "rollback/rollback.h"
#include "support/memory_machine.h"

namespace varno {
namespace {

using Lines = std::vector<std::string>;
using Kind = DeleteOutcome::Kind;

constexpr char kInstallDir[] = "C:\\Program Files\\Tolmerik\\Varnolith";
constexpr char kDescription[] = "C:\\Package\\MjaIni.ini";

class DeleteStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.files.AddDirectory(kInstallDir);
    machine.files.AddDirectory("C:\\Package");
    state.packageDir = "C:\\Package";
    state.packageDescriptionPath = kDescription;
    state.installDir = kInstallDir;
    Add("Ancien.dll", "old");
    Add("Aide\\Vieux.chm", "help");
    Add("Garde\\Notes.txt", "the user's");
    Add("Garde\\Vieux.txt", "old");
    record = {};
    for (const char* line : {"[SurFile]", "Ancien.dll", "Reste.dll", "[SurDir]", "Aide", "Garde", "[SurFileDir]",
                             "Vieux.chm", "[****]"}) {
      record.Append(line);
    }
  }

  void Add(const std::string& relative, const std::string& bytes) {
    const size_t slash = relative.find('\\');
    if (slash != std::string::npos) machine.files.AddDirectory(Path(relative.substr(0, slash)));
    machine.files.AddFile(Path(relative), bytes);
  }
  static std::string Path(const std::string& relative) { return std::string(kInstallDir) + "\\" + relative; }
  void Description(const std::string& sections) {
    machine.files.AddFile(kDescription, "1\r\n1021\r\n" + std::string(19, '\n') + sections);
  }
  std::string State() { return machine.Dump() + "--- record\n" + ::testing::PrintToString(record.Lines()); }

  fake::MemoryMachine machine;
  Platform platform = machine.platform();
  RunState state;
  WriteLogList record;
};

TEST_F(DeleteStepTest, RemovesFilesThenTheDirectoryTheyLeftEmptyAndTakesThemOutOfTheRecord) {
  Description("[delete]\r\nAncien.dll\r\nAide\\Vieux.chm\r\n\r\n  Aide\\  \r\nGarde/Vieux.txt\r\nGarde\r\nParti.txt\r\n");
  const auto outcomes = *DeleteDroppedFiles(platform, state, record);
  const std::vector<std::pair<Kind, std::string>> expected = {
      {Kind::FileRemoved, "Ancien.dll"},      {Kind::FileRemoved, "Aide\\Vieux.chm"},
      {Kind::DirectoryRemoved, "Aide"},       {Kind::FileRemoved, "Garde\\Vieux.txt"},
      {Kind::DirectoryNotEmpty, "Garde"},     {Kind::Absent, "Parti.txt"}};
  ASSERT_EQ(outcomes.size(), expected.size()) << State();
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(outcomes[i].kind, expected[i].first) << i;
    EXPECT_EQ(outcomes[i].path, expected[i].second) << i;
  }
  EXPECT_FALSE(machine.files.FileExists(Path("Ancien.dll")));
  EXPECT_FALSE(machine.files.DirectoryExists(Path("Aide")));
  EXPECT_EQ(machine.files.Content(Path("Garde\\Notes.txt")), "the user's");
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "Reste.dll", "[SurDir]", "Garde", "[SurFileDir]", "[****]"}))
      << State();
  EXPECT_FALSE(record.Contains("Ancien.dll"));  // the duplicate test forgets it too
}

TEST_F(DeleteStepTest, PassesOverWhatLiesOutsideTheInstallationOrIsTheUpdatersOwn) {
  machine.files.AddFile("C:\\Program Files\\Tolmerik\\Autre.txt", "outside");
  Add("UninstCgg.slt", "record");
  Add("VarnoMaJLog.txt", "log");
  const Lines refused = {"..\\Autre.txt", "Aide\\..\\..\\Autre.txt", "C:\\Windows\\win.ini", "\\Autre.txt",
                         "Ancien.dll:flux", ".", "Aide\\\\Vieux.chm", "uninstcgg.slt", "VarnoMaJLog.txt",
                         "VarnoMaJ.journal", "\\"};
  std::string section = "[delete]\r\n";
  for (const std::string& line : refused) section += line + "\r\n";
  Description(section);
  const auto outcomes = *DeleteDroppedFiles(platform, state, record);
  ASSERT_EQ(outcomes.size(), refused.size()) << State();
  for (size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(outcomes[i].kind, Kind::Refused) << refused[i];
  EXPECT_TRUE(machine.files.FileExists("C:\\Program Files\\Tolmerik\\Autre.txt"));
  EXPECT_TRUE(machine.files.FileExists(Path("UninstCgg.slt")));
  EXPECT_TRUE(machine.files.FileExists(Path("Aide\\Vieux.chm")));
}

TEST_F(DeleteStepTest, PathsThatChangeKindAreClearedInAFirstPassTheRestAfterTheArchives) {
  // A file that becomes a directory, and a directory whose path the main archive now writes.
  machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("Garde", "a file now")}));
  Description("[subdir]\r\nAide\\Vieux.chm\r\n[delete]\r\nAide\\Vieux.chm\r\nAncien.dll\r\n"
              "Garde\\Notes.txt\r\nGarde\\Vieux.txt\r\nGarde\r\n..\\x\r\n");
  const auto first = *DeleteDroppedFiles(platform, state, record, DeletePass::InTheWay);
  ASSERT_EQ(first.size(), 4u) << State();
  EXPECT_EQ(first[0].path, "Aide\\Vieux.chm");
  EXPECT_EQ(first[3].kind, Kind::DirectoryRemoved);
  EXPECT_TRUE(machine.files.FileExists(Path("Ancien.dll")));
  const auto rest = *DeleteDroppedFiles(platform, state, record, DeletePass::Rest);
  ASSERT_EQ(rest.size(), 2u) << State();
  EXPECT_EQ(rest[0].path, "Ancien.dll");
  EXPECT_EQ(rest[1].kind, Kind::Refused);
}

TEST_F(DeleteStepTest, APackageWithoutTheSectionRemovesNothing) {
  Description("[subdir]\r\nAide\r\n");
  EXPECT_FALSE(DeleteDroppedFiles(platform, state, record));
  EXPECT_EQ(record.Count(), 9u);
}

TEST_F(DeleteStepTest, ThroughTheJournalARollbackPutsBackFilesAndDirectories) {
  machine.files.SetInUse(Path("Garde\\Vieux.txt"));
  Description("[delete]\r\nAncien.dll\r\nAide\\Vieux.chm\r\nAide\r\nGarde\\Vieux.txt\r\n");
  machine.registry.AddKey(kHkeyLocalMachine, kRunAnchorKey);  // as an earlier run left it
  const auto before = machine.Dump();
  auto transaction = UpdateTransaction::Begin(platform, kInstallDir);
  ASSERT_TRUE(transaction);
  const auto outcomes = *DeleteDroppedFiles(transaction->platform(), state, record);
  ASSERT_EQ(outcomes.size(), 4u);
  EXPECT_EQ(outcomes[2].kind, Kind::DirectoryRemoved) << State();  // holds only the backup of its file
  EXPECT_EQ(outcomes[3].kind, Kind::NotRemoved) << State();        // in use: kept, the run goes on
  EXPECT_FALSE(machine.files.FileExists(Path("Aide\\Vieux.chm")));
  EXPECT_TRUE(transaction->Rollback().empty()) << State();
  EXPECT_EQ(machine.Dump(), before);
}

TEST_F(DeleteStepTest, AnEmptiedDirectoryGoesAtOnceAndACommitLeavesNoBackup) {
  Description("[delete]\r\nAide\\Vieux.chm\r\nAide\r\n");
  auto transaction = UpdateTransaction::Begin(platform, kInstallDir);
  ASSERT_TRUE(transaction);
  DeleteDroppedFiles(transaction->platform(), state, record);
  // Gone before the next step, which may put a file of that name there.
  EXPECT_FALSE(machine.files.DirectoryExists(Path("Aide"))) << State();
  ASSERT_TRUE(transaction->Commit());
  EXPECT_EQ(machine.files.List(kInstallDir),
            (Lines{"Ancien.dll", "Garde"}))
      << State();
}

}  // namespace
}  // namespace varno
