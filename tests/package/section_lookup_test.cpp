#include "package/section_lookup.h"

#include <gtest/gtest.h>

#include "base/text_lines.h"
#include "support/memory_files.h"

namespace varno {
namespace {

using Lines = std::vector<std::string>;

std::optional<Section> Lookup(const std::string& file, const char* header) {
  return FindSection(SplitTextLines(file), header);
}

TEST(SectionLookup, EntriesRunToTheNextBracketedLine) {
  auto section = Lookup("1\r\n[subdir]\r\nData\r\nData\\Images\r\n[reg]\r\nA: string; b\r\n", "[subdir]");
  ASSERT_TRUE(section.has_value());
  EXPECT_EQ(section->entries, (Lines{"Data", "Data\\Images"}));
  EXPECT_EQ(Lookup("[reg]\r\nA: string; b\r\nB: bool; 1", "[reg]")->entries, (Lines{"A: string; b", "B: bool; 1"}));
}

TEST(SectionLookup, MatchesTheWholeLineWithoutRegardToCase) {
  EXPECT_TRUE(Lookup("[SUBDIR]\r\nData\r\n", "[subdir]").has_value());
  EXPECT_TRUE(Lookup("[Répertoires]\r\nx\r\n", "[RÉPERTOIRES]").has_value());
  EXPECT_FALSE(Lookup("[subdir] \r\nData\r\n", "[subdir]").has_value());
  EXPECT_FALSE(Lookup(" [subdir]\r\nData\r\n", "[subdir]").has_value());
  EXPECT_FALSE(Lookup("[subdirs]\r\nData\r\n", "[subdir]").has_value());
}

TEST(SectionLookup, OnlyTheFirstHeaderCounts) {
  auto section = Lookup("[reg]\r\nA: integer; 1\r\n[desk]\r\n[reg]\r\nB: integer; 2\r\n", "[reg]");
  EXPECT_EQ(section->entries, Lines{"A: integer; 1"});
}

TEST(SectionLookup, EmptyLinesDoNotEndASection) {
  auto section = Lookup("[subdir]\r\nA\r\n\r\nB\r\n\r\n", "[subdir]");
  EXPECT_EQ(section->entries, (Lines{"A", "", "B", ""}));
}

TEST(SectionLookup, TellsAnEmptySectionFromOneThatEndsTheFile) {
  auto last = Lookup("1\r\n[reg]\r\n", "[reg]");
  ASSERT_TRUE(last.has_value());
  EXPECT_TRUE(last->entries.empty());
  EXPECT_FALSE(last->hasFollowingLine);

  auto followed = Lookup("[reg]\r\n[desk]\r\nx\r\n", "[reg]");
  ASSERT_TRUE(followed.has_value());
  EXPECT_TRUE(followed->entries.empty());
  EXPECT_TRUE(followed->hasFollowingLine);

  auto blank = Lookup("[reg]\r\n\r\n", "[reg]");
  EXPECT_TRUE(blank->hasFollowingLine);
  EXPECT_EQ(blank->entries, Lines{""});
}

TEST(SectionLookup, ALoneCrEndsALine) {
  EXPECT_EQ(Lookup("[subdir]\rA\rB\n[x]", "[subdir]")->entries, (Lines{"A", "B"}));
}

TEST(SectionLookup, AHeaderInsideTheHeaderRegionIsFound) {
  EXPECT_EQ(Lookup("titre\r\n[subdir]\r\nData\r\n", "[subdir]")->entries, Lines{"Data"});
}

TEST(SectionLookup, AbsentSection) { EXPECT_FALSE(Lookup("1\r\n2\r\n", "[reg]").has_value()); }

TEST(SectionLookup, HandlesDescriptionsBeyond32767Lines) {
  std::string file;
  for (int i = 0; i < 40000; ++i) file += "ligne\r\n";
  file += "[reg]\r\nA: integer; 1\r\n";
  EXPECT_EQ(Lookup(file, "[reg]")->entries, Lines{"A: integer; 1"});
}

TEST(LoadPackageDescription, ReadsAFreshCopyOrNothing) {
  fake::MemoryFileSystem files;
  EXPECT_FALSE(LoadPackageDescription(files, "C:\\P\\MjaIni.ini").has_value());
  files.AddFile("C:\\P\\MjaIni.ini", "a\r\nb");
  EXPECT_EQ(LoadPackageDescription(files, "C:\\P\\MjaIni.ini"), (Lines{"a", "b"}));
  files.AddFile("C:\\P\\MjaIni.ini", "c");
  EXPECT_EQ(LoadPackageDescription(files, "C:\\P\\MjaIni.ini"), Lines{"c"});
}

}  // namespace
}  // namespace varno
