// Compressed archives: the writer's SG2 layout, the reader's refusals, and the member
// stream's checks of what a compressed member inflates to.
#include "package/member_stream.h"

#include <gtest/gtest.h>

#include <random>

#include "package/archive_writer.h"
#include "package/member_compression.h"

namespace varno {
namespace {

std::string Random(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

// Text-like bytes that deflate well but not to nothing.
std::string Words(size_t size) {
  static const char* kWords[] = {"Varnolith ", "mise ", "à ", "jour ", "fichier ", "archive\r\n"};
  std::string bytes;
  for (unsigned i = 0; bytes.size() < size; i = i * 1103515245u + 12345u) bytes += kWords[(i >> 16) % 6];
  bytes.resize(size);
  return bytes;
}

// The member as the tool would make it: compressed where that saves a tenth.
ArchiveSource Packed(std::string name, std::string bytes, bool always = false) {
  ArchiveSource source = MemberFromBytes(std::move(name), std::move(bytes));
  const auto size = DeflatedSize(source);
  EXPECT_TRUE(size.has_value());
  return always || WorthCompressing(source.size, *size) ? DeflatedSource(source, *size) : source;
}

ArchiveCheck Check(const std::string& bytes) { return ReadArchiveLayout(*MemberFromBytes("", bytes).open()); }

// Every member of a valid archive through the stream, in chunks of the given size; a
// member with a problem gives "<problem>".
std::vector<std::string> Members(const std::string& bytes, size_t chunk = 4096) {
  const ArchiveCheck check = Check(bytes);
  EXPECT_TRUE(check.Valid()) << check.problem;
  auto archive = MemberFromBytes("", bytes).open();
  std::vector<std::string> members;
  std::string buffer(chunk, '\0');
  for (const ArchiveMember& member : check.layout.members) {
    MemberStream stream(*archive, member);
    std::string real;
    while (const size_t read = stream.Read(buffer.data(), buffer.size())) real.append(buffer, 0, read);
    members.push_back(stream.Complete() ? real : "<" + stream.Problem().value_or("incomplete") + ">");
    EXPECT_EQ(stream.Complete(), !stream.Problem().has_value());
  }
  return members;
}

void Put32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

TEST(CompressedArchive, RoundTripsEveryKindOfMemberAndKeepsSG1WithoutCompression) {
  const std::string random = Random(300000, 1);
  const std::string words = Words(3000000);  // several input blocks and output chunks
  const std::string zeros(2000000, '\0');     // deflates to almost nothing
  const std::vector<ArchiveSource> sources{Packed("empty", "", true), Packed("zeros", zeros),
                                           Packed("random.bin", random), Packed("words.txt", words),
                                           MemberFromBytes("plain", "abc")};
  EXPECT_EQ(sources[2].method, archive::kStored) << "random bytes do not compress by a tenth";
  const std::string bytes = ArchiveBytes(sources);
  ASSERT_EQ(bytes.substr(0, 4), std::string("SG2\x05", 4));
  const ArchiveCheck check = Check(bytes);
  ASSERT_TRUE(check.Valid()) << check.problem;
  EXPECT_TRUE(check.layout.compressed);
  const ArchiveMember& zeroMember = check.layout.members[1];
  EXPECT_EQ(zeroMember.method, archive::kDeflate);
  EXPECT_EQ(zeroMember.size, zeros.size());
  EXPECT_LT(zeroMember.storedSize, 5000u);
  EXPECT_EQ(zeroMember.offset, 4u + 9 * 5 + check.layout.members[0].storedSize);
  EXPECT_EQ(check.layout.members[2].storedSize, random.size());
  const std::vector<std::string> expected{"", zeros, random, words, "abc"};
  EXPECT_EQ(Members(bytes), expected);
  EXPECT_EQ(Members(bytes, 1 << 20), expected);
  EXPECT_EQ(ArchiveBytes(sources), bytes) << "the same inputs give the same bytes";

  const std::string plain = ArchiveBytes({Packed("random.bin", random), MemberFromBytes("plain", "abc")});
  EXPECT_EQ(plain.substr(0, 12), std::string("SG1\x02\x00\x04\x93\xE0\0\0\0\x03", 12));
  EXPECT_EQ(Members(plain), (std::vector<std::string>{random, "abc"}));
}

TEST(CompressedArchive, TheLayoutRefusesWhatCannotBeUnpackedAsItStands) {
  const std::string good = ArchiveBytes({MemberFromBytes("a", "abc"), Packed("b", Words(5000))});
  ASSERT_TRUE(Check(good).Valid());
  struct Case {
    const char* what;
    std::string bytes;
    const char* problem;
  };
  std::string unknown = good;
  unknown[4 + 9] = 2;
  std::string unequal = good;
  Put32(unequal, 4 + 1, 2);
  std::string pastEnd = good;
  Put32(pastEnd, 4 + 9 + 1, 0x10000);
  std::string entriesCut = good.substr(0, 4 + 9 + 3);
  for (const Case& c : {Case{"unknown method", unknown, "member 2 has the method 2 at offset 13"},
                        Case{"stored sizes differ", unequal, "stored size of 2 bytes but a real size of 3"},
                        Case{"stored size past the end", pastEnd, "member 2 (stored size 65536 at offset 14)"},
                        Case{"entries cut", entriesCut, "member entries at offsets 4 to 21 run past the end"}}) {
    const ArchiveCheck check = Check(c.bytes);
    EXPECT_FALSE(check.Valid()) << c.what;
    EXPECT_NE(check.problem.find(c.problem), std::string::npos) << c.what << ": " << check.problem;
  }
}

TEST(CompressedArchive, TheStreamRefusesAMemberThatDoesNotInflateToExactlyItsRealSize) {
  const std::string words = Words(200000);
  const std::string good = ArchiveBytes({Packed("a", words), MemberFromBytes("b", "after")});
  const ArchiveCheck check = Check(good);
  ASSERT_TRUE(check.Valid());
  const ArchiveMember& member = check.layout.members[0];
  const size_t streamEnd = static_cast<size_t>(member.offset + member.storedSize);

  std::string longer = good;
  Put32(longer, 4 + 5, static_cast<uint32_t>(words.size() - 1));
  std::string shorter = good;
  Put32(shorter, 4 + 5, static_cast<uint32_t>(words.size() + 1));
  std::string adler = good;
  adler[streamEnd - 1] ^= 1;
  std::string corrupt = good;
  corrupt[static_cast<size_t>(member.offset) + 100] ^= 0x55;
  // The stream cut short: the stored size ends before it, the rest reads as the next member.
  std::string truncated = good;
  Put32(truncated, 4 + 1, member.storedSize - 10);
  Put32(truncated, 4 + 9 + 1, 15);
  Put32(truncated, 4 + 9 + 5, 15);
  // Bytes after the stream's end, within the stored size.
  std::string trailing = good.substr(0, streamEnd) + "xy" + good.substr(streamEnd);
  Put32(trailing, 4 + 1, member.storedSize + 2);
  for (const auto& [what, bytes, problem] :
       {std::tuple{"inflates to more", longer, "more than its real size"},
        std::tuple{"inflates to less", shorter, "fewer than its real size"},
        std::tuple{"Adler-32", adler, "incorrect data check"},
        std::tuple{"corrupt", corrupt, "corrupt"},
        std::tuple{"truncated", truncated, "goes on past its"},
        std::tuple{"trailing bytes", trailing, "ends before its"}}) {
    const std::vector<std::string> members = Members(bytes);
    ASSERT_EQ(members.size(), 2u) << what;
    EXPECT_NE(members[0].find(problem), std::string::npos) << what << ": " << members[0].substr(0, 200);
    auto archive = MemberFromBytes("", bytes).open();
    EXPECT_TRUE(CheckMemberBytes(*archive, Check(bytes).layout.members[0]).has_value()) << what;
  }
}

TEST(CompressedArchive, DeflatingRefusesASourceThatDoesNotGiveItsSize) {
  ArchiveSource source = MemberFromBytes("a", Words(10000));
  source.size = 9999;
  EXPECT_FALSE(DeflatedSize(source).has_value());
  source.size = 10001;
  EXPECT_FALSE(DeflatedSize(source).has_value());
  ArchiveSource stale = DeflatedSource(MemberFromBytes("a", Words(10000)), 10);
  EXPECT_THROW(ArchiveBytes({stale}), std::invalid_argument) << "a stream that is not its stored size";
}

}  // namespace
}  // namespace varno
