#include "steps/uninstall_record.h"

#include <gtest/gtest.h>

#include "base/update_error.h"
#include "support/memory_files.h"

namespace varno {
namespace {

using Lines = std::vector<std::string>;
using fake::MemoryFileSystem;

constexpr char kRecordPath[] = "C:\\Varnolith\\UninstCgg.slt";

WriteLogList RecordOf(const Lines& lines) {
  WriteLogList record;
  for (const auto& line : lines) record.Append(line);
  return record;
}

TEST(WriteLogList, PlacesMissingHeadersAtTheTopOrTheEndAndFindsTheFirstEqualLine) {
  WriteLogList record = RecordOf({"x", "[****]"});
  EXPECT_EQ(record.EnsureSection("[SurFile]", Placement::Top), 0u);
  EXPECT_EQ(record.EnsureSection("[SurDir]", Placement::End), 3u);
  // Present in another case, or twice: the first equal line, not rewritten, not moved.
  record.Append("[surfile]");
  EXPECT_EQ(record.EnsureSection("[SURDIR]", Placement::End), 3u);
  EXPECT_EQ(record.EnsureSection("[SurFile]", Placement::Top), 0u);
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "x", "[****]", "[SurDir]", "[surfile]"}));
  EXPECT_EQ(record.Find("[SURFILE]"), 0u);
  EXPECT_EQ(record.Find("[SurFile] "), std::nullopt);
}

TEST(WriteLogList, EntriesGoDirectlyBelowTheirHeaderInReverseOrder) {
  WriteLogList record = RecordOf({"[****]", "[SurDir]", "Old", "[****]"});
  const size_t header = record.EnsureSection("[SurDir]", Placement::End);
  record.RecordEntry(header, "First");
  record.RecordEntry(header, "Second");
  EXPECT_EQ(record.Lines(), (Lines{"[****]", "[SurDir]", "Second", "First", "Old", "[****]"}));
}

TEST(WriteLogList, AnEntryEqualToAnyLineIsNotRecordedAgain) {
  WriteLogList record = RecordOf({"[SurFile]", "data", "[SurDir]", "[****]"});
  const size_t header = record.EnsureSection("[SurDir]", Placement::End);
  for (const char* entry : {"DATA", "[surfile]", "[****]", "[SurDir]"}) record.RecordEntry(header, entry);
  record.RecordEntry(header, "Él\xE9ment");
  record.RecordEntry(header, "\xC9L\xC9MENT");  // the ANSI comparison folds accented letters
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "data", "[SurDir]", "Él\xE9ment", "[****]"}));
}

TEST(WriteLogList, ArchiveMembersAreLookedUpByFullPathAndRecordedByName) {
  WriteLogList record = RecordOf({"[SurFile]", "a.dll", "C:\\Varnolith\\b.dat"});
  record.RecordArchiveMember(1, "C:\\Varnolith\\a.dll", "a.dll");  // the bare name does not count
  record.RecordArchiveMember(1, "C:\\VARNOLITH\\B.DAT", "b.dat");
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "a.dll", "a.dll", "C:\\Varnolith\\b.dat"}));
}

TEST(WriteLogList, LoadsEveryLineEndAndSavesCrLfAfterEveryLine) {
  MemoryFileSystem files;
  files.AddFile(kRecordPath, "[SurFile]\na.dll\rb.dat\r\n\r\n  foreign line \r\n[****]");
  WriteLogList record;
  record.LoadFromFile(files, kRecordPath);
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "a.dll", "b.dat", "", "  foreign line ", "[****]"}));
  record.AppendRunMarker();
  record.SaveToFile(files, kRecordPath);
  EXPECT_EQ(files.Content(kRecordPath), "[SurFile]\r\na.dll\r\nb.dat\r\n\r\n  foreign line \r\n[****]\r\n[****]\r\n");

  files.AddFile(kRecordPath, "");
  record.LoadFromFile(files, kRecordPath);
  EXPECT_EQ(record.Count(), 0u);
  EXPECT_FALSE(record.Contains("[SurFile]")) << "a load replaces the whole list";
}

TEST(WriteLogList, AFailedSaveRaisesAndLeavesThePreviousRecordWhole) {
  MemoryFileSystem files;
  files.AddFile(kRecordPath, "[SurFile]\r\nold.dll\r\n[****]\r\n");
  WriteLogList record;
  record.LoadFromFile(files, kRecordPath);
  record.RecordEntry(0, "new.dll");
  record.AppendRunMarker();
  files.FailNthWrite(1);
  try {
    record.SaveToFile(files, kRecordPath);
    FAIL() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_EQ(std::string(error.what()), std::string("Impossible de créer le fichier ") + kRecordPath);
  }
  EXPECT_EQ(files.Content(kRecordPath), "[SurFile]\r\nold.dll\r\n[****]\r\n");
  EXPECT_EQ(files.List("C:\\Varnolith"), Lines{"UninstCgg.slt"});
}

TEST(WriteLogList, ARecordThatCannotBeReadRaisesRatherThanStartingEmpty) {
  MemoryFileSystem files;
  files.AddFile(kRecordPath, "[SurFile]\r\nold.dll\r\n");
  files.SetInUse(kRecordPath);
  WriteLogList record;
  EXPECT_THROW(record.LoadFromFile(files, kRecordPath), UpdateError);
}

TEST(WriteLogList, HandlesRecordsBeyond32767LinesInFull) {
  WriteLogList record;
  for (int i = 0; i < 40000; ++i) record.Append("line" + std::to_string(i));
  const size_t header = record.EnsureSection("[SurValReg]", Placement::End);
  EXPECT_EQ(header, 40000u);
  record.RecordEntry(header, "Port");
  EXPECT_EQ(record.Find("PORT"), 40001u);
  EXPECT_EQ(record.Find("line39999"), 39999u);
  EXPECT_EQ(record.EnsureSection("[SurFile]", Placement::Top), 0u);
  EXPECT_EQ(record.Count(), 40003u);
  EXPECT_EQ(record.Line(40002), "Port");
}

// The lines sit in a gap buffer; insertions far apart and near each other, with the buffer
// growing in between, must give exactly what a plain list gives.
TEST(WriteLogList, InsertionsAnywhereMatchAPlainList) {
  WriteLogList record;
  Lines model;
  unsigned seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const size_t position = (i % 7 == 0) ? model.size() : (seed >> 8) % (model.size() + 1);
    const std::string line = "l" + std::to_string(i);
    record.Insert(position, line);
    model.insert(model.begin() + static_cast<std::ptrdiff_t>(position), line);
  }
  ASSERT_EQ(record.Lines(), model);
  EXPECT_THROW(record.Insert(model.size() + 1, "x"), std::out_of_range);
}

}  // namespace
}  // namespace varno
