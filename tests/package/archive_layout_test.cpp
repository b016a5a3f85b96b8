// The archive format as the writer builds it and the reader checks it.
#include "package/archive_layout.h"

#include <gtest/gtest.h>

#include "package/archive_writer.h"
#include "support/memory_files.h"

namespace varno {
namespace {

using fake::MemoryFileSystem;

ArchiveCheck Check(const std::string& bytes) { return ReadArchiveLayout(*MemberFromBytes("", bytes).open()); }

std::vector<std::string> Names(const ArchiveCheck& check) {
  std::vector<std::string> names;
  for (const auto& member : check.layout.members) names.push_back(member.name);
  return names;
}

TEST(ArchiveLayout, WriterAndReaderAgreeOnEveryField) {
  const std::string bytes = ArchiveBytes({MemberFromBytes("a.dll", "AAAA"), MemberFromBytes("Data\\b.dat", ""),
                                          MemberFromBytes("c.ocx", std::string(70000, 'c'))});
  EXPECT_EQ(bytes.substr(0, 16), std::string("SG1\x03\0\0\0\x04\0\0\0\0\0\x01\x11\x70", 16));
  EXPECT_EQ(bytes.substr(16, 4), "AAAA");
  EXPECT_EQ(bytes.substr(20 + 70000), "#a.dll#Data\\b.dat#c.ocx");
  const ArchiveCheck check = Check(bytes);
  ASSERT_TRUE(check.Valid()) << check.problem;
  ASSERT_EQ(Names(check), (std::vector<std::string>{"a.dll", "Data\\b.dat", "c.ocx"}));
  EXPECT_EQ(check.layout.members[0].offset, 16u);
  EXPECT_EQ(check.layout.members[1].offset, 20u);
  EXPECT_EQ(check.layout.members[2].offset, 20u);
  EXPECT_EQ(check.layout.members[2].size, 70000u);
  EXPECT_EQ(check.layout.nameTableOffset, 70020u);
}

TEST(ArchiveLayout, TheLeadByteIsNeverExaminedAndWhatFollowsTheLastNameIsIgnored) {
  for (const char lead : {'#', 'X', '\0', '\xFF'}) {
    const ArchiveCheck check = Check(ArchiveBytes({MemberFromBytes("a", "1"), MemberFromBytes("b", "2")}, lead));
    ASSERT_TRUE(check.Valid()) << check.problem;
    EXPECT_EQ(Names(check), (std::vector<std::string>{"a", "b"}));
  }
  const std::string base = ArchiveBytes({MemberFromBytes("a", "1"), MemberFromBytes("b", "2")});
  for (const char* tail : {"#", "#c#d", "#..\\evil", "#\r\n"}) {
    const ArchiveCheck check = Check(base + tail);
    ASSERT_TRUE(check.Valid()) << tail << ": " << check.problem;
    EXPECT_EQ(Names(check), (std::vector<std::string>{"a", "b"}));
  }
  EXPECT_TRUE(Check(std::string("SG1\0", 4)).Valid()) << "no member, no name table";
}

TEST(ArchiveLayout, AcceptsNamesUpTo254BytesAndTablesOfAnyLength) {
  std::vector<ArchiveSource> members;
  for (int i = 0; i < 100; ++i) members.push_back(MemberFromBytes(std::to_string(i) + std::string(250, 'n'), "x"));
  members.push_back(MemberFromBytes("...dll\\.hidden\\a..b\\" + std::string(234, 'z'), ""));
  const ArchiveCheck check = Check(ArchiveBytes(members));  // a name table of over 25,000 bytes
  ASSERT_TRUE(check.Valid()) << check.problem;
  EXPECT_EQ(check.layout.members.size(), 101u);
  EXPECT_EQ(check.layout.members.back().name.size(), 254u);
}

struct Malformed {
  const char* what;
  std::string bytes;
  const char* problem;  // a part of the description it must give
};

TEST(ArchiveLayout, RefusesEveryMalformedArchiveWithItsReason) {
  const std::string one = std::string("SG1\x01\0\0\0\x03", 8) + "abc";
  const std::string two = std::string("SG1\x02\0\0\0\x01\0\0\0\x01", 12) + "ab";
  const Malformed cases[] = {
      {"empty file", "", "fewer than the 4"},
      {"three bytes", "SG1", "fewer than the 4"},
      {"lower-case signature", std::string("sg1\0", 4), "signature at offset 0 is 0x73 0x67 0x31"},
      {"count above 128", std::string("SG1\x81", 4) + std::string(129 * 4, '\0') + "#", "member count at offset 3 is 129"},
      {"sizes cut short", std::string("SG1\x02\0\0\0", 7), "sizes at offsets 4 to 11 run past the end"},
      {"data past the end", std::string("SG1\x01\0\0\x10\0", 8) + "abc#a", "member 1 (size 4096 at offset 4)"},
      {"no name table", one, "name table at offset 11 is missing"},
      {"lead byte only", one + "#", "holds 0 names for 1 members"},
      {"fewer names", two + "#a", "holds 1 names for 2 members"},
      {"empty name", two + "##b", "name 1 at offset 15 is empty"},
      {"255-byte name", one + "#" + std::string(255, 'n'), "name 1 at offset 12 is longer than 254 bytes"},
      {"long name cut", two + "#" + std::string(600, 'n'), "name 1 at offset 15 is longer than 254 bytes"},
      {"parent component", one + "#..\\Windows\\x.dll", "component \"..\""},
      {"inner parent", one + "#Data\\..\\..\\x.dll", "component \"..\""},
      {"dots and blanks", one + "#Data\\. .\\x.dll", "component \". .\""},
      {"absolute", one + "#\\Windows\\x.dll", "starts with a separator"},
      {"slash", one + "#/etc/x", "starts with a separator"},
      {"network", one + "#\\\\server\\share\\x", "starts with a separator"},
      {"drive", one + "#C:\\Windows\\x.dll", "holds \":\""},
      {"drive relative", one + "#D:x.dll", "holds \":\""},
      {"empty component", one + "#Data\\\\x.dll", "empty path component"},
      {"trailing separator", one + "#Data\\", "empty path component"},
      {"line break", one + "#a.dll\r\n[SurDir]", "control character 0x0D"},
      {"wildcard", one + "#*.dll", "holds \"*\""},
  };
  for (const Malformed& c : cases) {
    const ArchiveCheck check = Check(c.bytes);
    EXPECT_FALSE(check.Valid()) << c.what;
    EXPECT_NE(check.problem.find(c.problem), std::string::npos) << c.what << ": " << check.problem;
  }
}

TEST(ArchiveLayout, WriterRefusesWhatTheReaderWouldRefuse) {
  EXPECT_EQ(CheckArchiveSources({MemberFromBytes("a#b", "")}), "name 1 holds \"#\", the name separator");
  EXPECT_TRUE(CheckArchiveSources({MemberFromBytes("ok", ""), MemberFromBytes("..\\x", "")}).has_value());
  EXPECT_TRUE(CheckArchiveSources(std::vector<ArchiveSource>(129, MemberFromBytes("a", ""))).has_value());
  EXPECT_FALSE(CheckArchiveSources(std::vector<ArchiveSource>(128, MemberFromBytes("a", ""))).has_value());
  // Sizes are announced before any byte is read: the format's 2 GiB limit is met first.
  const ArchiveSource huge{"big.bin", 0x7FFFFFFFu, nullptr};
  EXPECT_NE(CheckArchiveSources({huge})->find("beyond the format's limit"), std::string::npos);
  EXPECT_THROW(ArchiveBytes({MemberFromBytes("", "x")}), std::invalid_argument);
}

TEST(ArchiveLayout, WriterLeavesTheFileUnchangedWhenAMemberLiesAboutItsSize) {
  MemoryFileSystem files;
  files.AddFile("C:\\out\\pack.slp", "previous");
  files.AddFile("C:\\src\\a.dll", "12345");
  auto fromFile = MemberFromFile(files, "a.dll", "C:\\src\\a.dll");
  ASSERT_TRUE(fromFile.has_value());
  ArchiveSource liar = MemberFromBytes("b.dll", "xy");
  liar.size = 3;
  const auto problem = WriteArchive(files, "C:\\out\\pack.slp", {*fromFile, liar});
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(*problem, "member 2 (\"b.dll\") does not give the 3 bytes of its size");
  EXPECT_EQ(files.Content("C:\\out\\pack.slp"), "previous");
  EXPECT_EQ(files.List("C:\\out"), std::vector<std::string>{"pack.slp"});

  ASSERT_FALSE(WriteArchive(files, "C:\\out\\pack.slp", {*fromFile}, 'L'));
  EXPECT_EQ(files.Content("C:\\out\\pack.slp"), std::string("SG1\x01\0\0\0\x05", 8) + "12345La.dll");
  EXPECT_EQ(CheckArchiveFile(files, "C:\\out\\absent.slp").problem, "the file cannot be opened");
}

}  // namespace
}  // namespace varno
