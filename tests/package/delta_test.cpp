// Binary deltas: what the tool's encoder makes, the updater's decoder gives back byte for
// byte, and the decoder refuses a delta that is cut, forged or meant for another file.
#include "package/delta_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include <zlib.h>

#include "compression/delta_encoder.h"
#include "support/bytes_input.h"

namespace varno {
namespace {

using fake::BytesInput;
using pack::EncodeDelta;

class BytesOutput : public OutputFile {
 public:
  bool Write(const char* data, size_t size) override {
    bytes.append(data, size);
    ++writes;
    return true;
  }
  bool Commit() override { return true; }
  std::string bytes;
  int writes = 0;
};

std::optional<std::string> Apply(const std::string& delta, const std::string& source, BytesOutput& out) {
  BytesInput deltaFile(delta);
  BytesInput sourceFile(source);
  return ApplyDelta(deltaFile, delta.size(), sourceFile, out);
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = char(random());
  return bytes;
}

// Code-like bytes: instructions with 32-bit addresses into the file itself.
std::string CodeLike(size_t words, uint32_t base, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes;
  for (size_t i = 0; i < words; ++i) {
    const uint32_t word = random() % 3 == 0 ? base + random() % 4096 * 4 : random() % 64;
    for (int b = 0; b < 4; ++b) bytes.push_back(char(word >> (8 * b)));
  }
  return bytes;
}

// The next build of CodeLike: some bytes inserted, and every address past them shifted.
std::string Rebuilt(const std::string& code, uint32_t base) {
  std::string next = code.substr(0, code.size() / 3) + "inserted function body" + code.substr(code.size() / 3);
  for (size_t i = 0; i + 4 <= next.size(); i += 4) {
    uint32_t word = 0;
    for (int b = 0; b < 4; ++b) word |= uint32_t(uint8_t(next[i + b])) << (8 * b);
    if (word >= base && word < base + 4096 * 4) word += 24;
    for (int b = 0; b < 4; ++b) next[i + b] = char(word >> (8 * b));
  }
  return next;
}

// x86-like code: runtime functions in the first 4 KiB, then filler instructions and calls
// into the runtime; with `inserted`, 24 more bytes a third of the way, which moves every
// later call and changes its displacement (but not its target).
std::string CallsLike(size_t size, bool inserted) {
  std::mt19937 random(11);
  std::string code(4096, '\xC3');
  while (code.size() < size) {
    if (inserted && code.size() >= size / 3 && code.size() < size / 3 + 16) code.append(24, '\x90');
    for (uint32_t n = 1 + random() % 8; n > 0; --n) code.push_back(char(0x40 + random() % 64));
    const uint32_t target = random() % 4096;
    const uint32_t displacement = target - uint32_t(code.size() + 5);
    code.push_back('\xE8');
    for (int b = 0; b < 4; ++b) code.push_back(char(displacement >> (8 * b)));
  }
  return code;
}

// The first bytes of this test program: real machine code.
std::string OwnCode(size_t size) {
  std::ifstream file(::testing::internal::GetArgvs()[0], std::ios::binary);
  std::string bytes(size, '\0');
  file.read(bytes.data(), std::streamsize(size));
  bytes.resize(size_t(file.gcount()));
  return bytes;
}

std::string Golden(const char* name) {
  std::ifstream file(std::string(VARNO_GOLDEN_DIR) + "/" + name, std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(file), {});
  EXPECT_FALSE(bytes.empty()) << "no golden file " << name << " in " << VARNO_GOLDEN_DIR;
  return bytes;
}

int BlockCount(const std::string& delta) {
  int count = 0;
  for (size_t at = delta::kHeaderSize; at + delta::kBlockHeaderSize <= delta.size(); ++count) {
    size_t packed = 0;
    for (size_t field = 3; field < 6; ++field) {
      for (size_t b = 0; b < 4; ++b) packed += size_t(uint8_t(delta[at + 4 * field + b])) << (8 * b);
    }
    at += delta::kBlockHeaderSize + packed;
  }
  return count;
}

TEST(Delta, RoundTripsGiveTheNewFileExactly) {
  const std::string random = RandomBytes(100000, 1);
  const std::string code = CodeLike(64 * 1024, 0x401000, 2);
  // Random differences to add (every other byte in most of the file: over 256 KiB coded)
  // and over 1 MiB to copy: both are cut between blocks.
  const std::string large = RandomBytes(1200000, 3);
  std::string scattered = large;
  const std::string noise = RandomBytes(large.size(), 12);
  for (size_t i = 1; i < scattered.size(); i += 2) {
    if (i % 64 >= 16) scattered[i] = char(scattered[i] ^ (noise[i] | 1));
  }
  const struct {
    const char* name;
    std::string oldBytes, newBytes;
  } cases[] = {
      {"both empty", "", ""},
      {"from nothing", "", random},
      {"to nothing", random, ""},
      {"unchanged", random, random},
      {"doubled", random, random + random},
      {"unrelated", random, RandomBytes(50000, 4)},
      {"shifted addresses", code, Rebuilt(code, 0x401000)},
      {"one byte", "a", "b"},
      {"real shortcuts", Golden("product.lnk"), Golden("accents.lnk")},
      {"several blocks", large, scattered + std::string(1100000, '\0') + large.substr(7, 200000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string delta = EncodeDelta(c.oldBytes, c.newBytes);
    if (c.newBytes.size() < 1000000) EXPECT_EQ(EncodeDelta(c.oldBytes, c.newBytes), delta) << "not deterministic";
    BytesInput deltaFile(delta);
    const auto header = ReadDeltaHeader(deltaFile, delta.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->sourceSize, c.oldBytes.size());
    EXPECT_EQ(header->resultSize, c.newBytes.size());
    if (c.name == std::string("several blocks")) EXPECT_GE(BlockCount(delta), 3);
    BytesOutput out;
    const auto refusal = Apply(delta, c.oldBytes, out);
    ASSERT_FALSE(refusal) << *refusal;
    EXPECT_TRUE(out.bytes == c.newBytes);
    EXPECT_LE(out.writes, int(c.newBytes.size() / (1 << 20)) + 1) << "the result is written in large pieces";
  }
}

TEST(Delta, ASmallChangeGivesASmallDelta) {
  const std::string code = CodeLike(64 * 1024, 0x401000, 5);
  EXPECT_LT(EncodeDelta(code, Rebuilt(code, 0x401000)).size(), code.size() / 30);
  const std::string random = RandomBytes(300000, 6);
  std::string edited = random;
  edited.insert(150000, "a few new bytes");
  edited[1000] ^= 1;
  EXPECT_LT(EncodeDelta(random, edited).size(), 500u);
}

// Long unchanged stretches are kept as they are, not coded a byte at a time: an unchanged
// file, or one with a few bytes changed far apart, leaves the difference part (almost) empty.
// Deltas of the former format, whose entries had no such field, still apply.
TEST(Delta, UnchangedStretchesAreKeptAndTheTripleFormatStillReads) {
  const auto codedBytes = [](const std::string& delta) {
    size_t coded = 0;
    for (size_t at = delta::kHeaderSize; at + delta::kBlockHeaderSize <= delta.size();) {
      uint32_t fields[6] = {};
      for (int field = 0; field < 6; ++field) {
        for (int b = 0; b < 4; ++b) fields[field] |= uint32_t(uint8_t(delta[at + 4 * field + b])) << (8 * b);
      }
      coded += fields[1];
      at += delta::kBlockHeaderSize + fields[3] + fields[4] + fields[5];
    }
    return coded;
  };
  const std::string random = RandomBytes(3 << 20, 13);
  std::string edited = random;
  for (size_t at = 1000; at < edited.size(); at += 100000) edited[at] = char(edited[at] ^ 0x5A);
  for (const std::string& newBytes : {random, edited}) {
    const std::string delta = EncodeDelta(random, newBytes);
    EXPECT_LT(codedBytes(delta), 200u);
    BytesOutput out;
    ASSERT_FALSE(Apply(delta, random, out));
    EXPECT_TRUE(out.bytes == newBytes);
  }

  std::string tripleFormat;
  for (const char* hex : {
      "56444c54020000004b02000000000000980100000000000095d027b434b7de760000000013000000470000004c000000"
      "1b000000470000004500000078da6b66e4371562f8c1a8c010efc73087d1d3f60f23002a8704c100775745dc83194fdb"
      "9daae5a639d040d49d196b4b0f7297a9cf9f29eb2b27f251ae3f6fe868762e4f0f6f9ad1abfc597bfda7259fff984ded"
      "f7e5b28108ea10b74b51a6e66e0078da63606060106070c9cfcb7b995acca00665c49c2c79195350f4aaa4412fb52215"
      "a4c299c18a2186c185219f210f085f32a4321403f927194a80ec18060800008be714fc"}) {
    for (const char* at = hex; *at; at += 2) tripleFormat.push_back(char(std::stoi(std::string(at, 2), nullptr, 16)));
  }
  ASSERT_EQ(tripleFormat.substr(4, 4), std::string("\x02\0\0\0", 4));
  BytesOutput out;
  const auto refusal = Apply(tripleFormat, Golden("product.lnk"), out);
  ASSERT_FALSE(refusal) << *refusal;
  EXPECT_TRUE(out.bytes == Golden("accents.lnk"));
}

TEST(Delta, ReadsFromTheCurrentPositionWithShortReads) {
  const std::string oldBytes = CodeLike(20000, 0x10000, 7);
  const std::string newBytes = Rebuilt(oldBytes, 0x10000);
  const std::string delta = EncodeDelta(oldBytes, newBytes);
  BytesInput deltaFile("archive bytes before" + delta + "and after", 7);
  BytesInput source(oldBytes, 1000);
  deltaFile.Seek(20);
  BytesOutput out;
  const auto refusal = ApplyDelta(deltaFile, delta.size(), source, out);
  ASSERT_FALSE(refusal) << *refusal;
  EXPECT_TRUE(out.bytes == newBytes);
}

// Checks, at each write, that the piece written before is still as it was: the updater takes
// its digest on another thread while the next piece is made.
class PieceKeepingOutput : public BytesOutput {
 public:
  bool Write(const char* data, size_t size) override {
    if (last_) EXPECT_EQ(std::string(last_, lastCopy_.size()), lastCopy_) << "piece " << writes - 1 << " changed";
    last_ = data;
    lastCopy_.assign(data, size);
    return BytesOutput::Write(data, size);
  }

 private:
  const char* last_ = nullptr;
  std::string lastCopy_;
};

TEST(Delta, OneApplierTakesDeltaAfterDeltaAndLeavesEachPieceUntilTheNextWrite) {
  const std::string oldLarge = CodeLike(800000, 0x10000, 3), newLarge = Rebuilt(oldLarge, 0x10000);
  const std::string oldSmall = CodeLike(5000, 0x20000, 4), newSmall = Rebuilt(oldSmall, 0x20000);
  const std::string large = EncodeDelta(oldLarge, newLarge), small = EncodeDelta(oldSmall, newSmall);
  DeltaApplier applier;
  const auto apply = [&applier](const std::string& delta, const std::string& source, BytesOutput& out) {
    BytesInput deltaFile(delta), sourceFile(source);
    return applier.Apply(deltaFile, delta.size(), sourceFile, out);
  };
  PieceKeepingOutput pieces;
  ASSERT_FALSE(apply(large, oldLarge, pieces));
  EXPECT_TRUE(pieces.bytes == newLarge);
  EXPECT_GE(pieces.writes, 3);
  // A delta refused half-way leaves nothing behind for the next: its buffers, its window
  // and its model of the differences start afresh.
  std::string corrupt = large;
  corrupt[corrupt.size() / 2] ^= 0x20;
  BytesOutput refused;
  EXPECT_TRUE(apply(corrupt, oldLarge, refused));
  for (int round = 0; round < 2; ++round) {
    BytesOutput out;
    ASSERT_FALSE(apply(small, oldSmall, out));
    EXPECT_TRUE(out.bytes == newSmall) << "round " << round;
  }
}

TEST(Delta, RefusesACutForgedOrMisdirectedDelta) {
  const std::string oldBytes = RandomBytes(20000, 8);
  std::string newBytes = oldBytes.substr(5000) + RandomBytes(3000, 9);
  newBytes[100] ^= 0x55;
  const std::string delta = EncodeDelta(oldBytes, newBytes);
  const auto refused = [&](const std::string& bytes, const std::string& source) {
    BytesOutput out;
    const auto refusal = Apply(bytes, source, out);
    EXPECT_LE(out.bytes.size(), newBytes.size());
    return refusal.has_value();
  };
  ASSERT_FALSE(refused(delta, oldBytes));
  for (size_t cut = 0; cut < delta.size(); ++cut) {
    EXPECT_TRUE(refused(delta.substr(0, cut), oldBytes)) << "cut at " << cut;
  }
  EXPECT_TRUE(refused(delta + '\0', oldBytes)) << "trailing bytes";
  EXPECT_TRUE(refused(delta, oldBytes + 'x')) << "a source of another size";
  std::string otherSource = oldBytes;
  otherSource[15000] ^= 1;
  EXPECT_TRUE(refused(delta, otherSource)) << "a source of the same size with other bytes";
  {
    // Unless the caller checks the result's digest itself.
    BytesInput deltaFile(delta), sourceFile(otherSource);
    BytesOutput out;
    EXPECT_FALSE(ApplyDelta(deltaFile, delta.size(), sourceFile, out, ResultCheck::ByCaller));
  }
  for (size_t at = delta::kHeaderSize + delta::kBlockHeaderSize; at < delta.size(); at += 97) {
    std::string corrupt = delta;
    corrupt[at] ^= 0x20;
    EXPECT_TRUE(refused(corrupt, oldBytes)) << "corrupt byte at " << at;
  }

  const auto withSizes = [&](uint64_t sourceSize, uint64_t resultSize) {
    std::string forged = delta;
    DeltaHeader header{sourceSize, resultSize, 0, 0};
    forged.replace(0, 24, DeltaHeaderBytes(header).substr(0, 24));
    return forged;
  };
  BytesInput forgedFile(withSizes(1000, uint64_t(1) << 40));
  EXPECT_FALSE(ReadDeltaHeader(forgedFile, delta.size())) << "a result beyond the limit";
  EXPECT_TRUE(refused(withSizes(oldBytes.size(), 0xFFFFFFFF), oldBytes)) << "a result larger than the blocks give";
  EXPECT_TRUE(refused(withSizes(oldBytes.size(), newBytes.size() - 1), oldBytes)) << "blocks giving more";
  EXPECT_TRUE(refused("XDLT" + delta.substr(4), oldBytes)) << "another magic";
}

TEST(Delta, TheX86FilterGivesRealCodeBackExactly) {
  const std::string code = OwnCode(3 << 20);
  ASSERT_GT(code.size(), 1u << 20) << "this program could not be read";
  std::string bytes = code;
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  size_t converted = 0;
  for (size_t at = 0; at < bytes.size(); at += delta::kFilterChunk) {
    converted += X86Filter(data + at, std::min(delta::kFilterChunk, bytes.size() - at), at, true);
  }
  EXPECT_GT(converted, 1000u) << "a compiled program has calls";
  for (size_t at = 0; at < bytes.size(); at += delta::kFilterChunk) {
    X86Filter(data + at, std::min(delta::kFilterChunk, bytes.size() - at), at, false);
  }
  EXPECT_TRUE(bytes == code);

  // The next "build": bytes inserted early (later code moves), a few changed. Over 1 MiB,
  // so the result is unfiltered in two flushes, and its adds reach back over the window.
  const std::string oldBytes = code.substr(0, 1300000);
  std::string newBytes = oldBytes.substr(0, 200000) + "a new instruction" + oldBytes.substr(200000);
  newBytes[900000] ^= 0x10;
  for (const uint32_t filter : {delta::kFilterNone, delta::kFilterX86}) {
    SCOPED_TRACE(filter);
    const std::string delta = EncodeDelta(oldBytes, newBytes, filter);
    BytesInput deltaFile(delta);
    EXPECT_EQ(ReadDeltaHeader(deltaFile, delta.size())->filter, filter);
    BytesOutput out;
    BytesInput deltaAgain(delta), source(oldBytes, 4096);
    const auto refusal = ApplyDelta(deltaAgain, delta.size(), source, out);
    ASSERT_FALSE(refusal) << *refusal;
    EXPECT_TRUE(out.bytes == newBytes);
  }
}

TEST(Delta, TheX86FilterMakesMovedCallsAlike) {
  const std::string oldBytes = CallsLike(1200000, false), newBytes = CallsLike(1200000, true);
  const std::string delta = EncodeDelta(oldBytes, newBytes);
  BytesInput deltaFile(delta);
  EXPECT_EQ(ReadDeltaHeader(deltaFile, delta.size())->filter, delta::kFilterX86);
  EXPECT_LT(delta.size() * 10, EncodeDelta(oldBytes, newBytes, delta::kFilterNone).size());
  BytesOutput out;
  ASSERT_FALSE(Apply(delta, oldBytes, out));
  EXPECT_TRUE(out.bytes == newBytes);
}

// Beyond 256 KiB the encoder matches by blocks instead of sorting the old file's suffixes:
// still exact, and still small where little changed.
TEST(Delta, ALargeFileIsMatchedByBlocks) {
  const std::string oldBytes = RandomBytes(5 << 20, 3);
  std::string newBytes = oldBytes.substr(0, 1 << 20) + "inserted" + oldBytes.substr(1 << 20);
  newBytes[3 << 20] ^= 0x40;
  newBytes.erase(4 << 20, 1000);
  const std::string delta = EncodeDelta(oldBytes, newBytes);
  EXPECT_LT(delta.size(), 4096u);
  BytesOutput out;
  ASSERT_FALSE(Apply(delta, oldBytes, out));
  EXPECT_TRUE(out.bytes == newBytes);
}

// Counts the bytes the decoder reads from the source.
class CountingInput : public BytesInput {
 public:
  using BytesInput::BytesInput;
  size_t Read(char* buffer, size_t size) override {
    const size_t got = BytesInput::Read(buffer, size);
    read += got;
    return got;
  }
  uint64_t read = 0;
};

TEST(Delta, TheFilteredSourceIsReadOnceForEachUseWhereverTheEntriesJump) {
  // Calls everywhere, a run of call opcodes that leaves no place nearby where the filter's
  // scan must stand, and a chunk that ends inside an operand.
  std::string source = CallsLike(5 * delta::kFilterChunk + 1000, false);
  source.replace(2 * delta::kFilterChunk + 3000, 2000, 2000, '\xE8');
  source.replace(delta::kFilterChunk - 2, 2, "\x0F\x85");
  // The reference: every chunk filtered once, from its start.
  std::string filtered = source;
  for (size_t at = 0; at < filtered.size(); at += delta::kFilterChunk) {
    X86Filter(reinterpret_cast<unsigned char*>(filtered.data()) + at,
              std::min(delta::kFilterChunk, filtered.size() - at), at, true);
  }
  // Kept stretches that jump back and forth over the whole source, into operands and over
  // chunks' ends: the filtered result is their filtered bytes, unfiltered chunk by chunk.
  std::mt19937 random(5);
  std::string control, result;
  const auto varint = [&control](uint64_t value) {
    for (; value >= 0x80; value >>= 7) control.push_back(char(value | 0x80));
    control.push_back(char(value));
  };
  uint64_t position = 0, used = 0;
  const int entries = 3000;
  for (int i = 0; i < entries; ++i) {
    const uint64_t same = 1 + random() % (i % 10 == 0 ? 20000 : 300);
    const uint64_t next = random() % (source.size() - 20000);
    const uint64_t end = std::min<uint64_t>(position + same, source.size());
    result += filtered.substr(position, end - position);
    used += end - position;
    const int64_t seek = int64_t(next) - int64_t(end);
    for (uint64_t value : {uint64_t(0), end - position, uint64_t(0),
                           seek < 0 ? uint64_t(-seek) * 2 - 1 : uint64_t(seek) * 2}) {
      varint(value);
    }
    position = next;
  }
  for (size_t at = 0; at < result.size(); at += delta::kFilterChunk) {
    X86Filter(reinterpret_cast<unsigned char*>(result.data()) + at, std::min(delta::kFilterChunk, result.size() - at),
              at, false);
  }
  uLongf packedSize = compressBound(uLong(control.size()));
  std::string packed(packedSize, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                     reinterpret_cast<const Bytef*>(control.data()), uLong(control.size())), Z_OK);
  packed.resize(packedSize);
  const auto crc = [](const std::string& bytes) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
  };
  std::string delta = DeltaHeaderBytes({source.size(), result.size(), crc(source), crc(result), delta::kFilterX86});
  for (const uint32_t field : {uint32_t(control.size()), 0u, 0u, uint32_t(packed.size()), 0u, 0u}) {
    for (int b = 0; b < 4; ++b) delta.push_back(char(field >> (8 * b)));
  }
  delta += packed;

  BytesInput deltaFile(delta);
  CountingInput sourceFile(source);
  BytesOutput out;
  const auto refusal = ApplyDelta(deltaFile, delta.size(), sourceFile, out);
  ASSERT_FALSE(refusal) << *refusal;
  EXPECT_TRUE(out.bytes == result);
  // What it reads beyond the bytes used: a few hundred bytes an entry to find where the
  // filter's scan stands, and from a chunk's start a few times.
  EXPECT_LT(sourceFile.read, used + entries * 300u + 100 * delta::kFilterChunk)
      << "read " << sourceFile.read << " source bytes for " << used << " used";
}

TEST(Delta, SuffixArrayOrdersEverySuffix) {
  std::mt19937 random(10);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 300, '\0');
    const int alphabet = 1 + int(random() % 4);
    for (char& byte : bytes) byte = char('a' + random() % alphabet);
    const std::vector<int32_t> sa = pack::SuffixArray(bytes);
    ASSERT_EQ(sa.size(), bytes.size());
    std::vector<int32_t> expected(bytes.size());
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = int32_t(i);
    std::sort(expected.begin(), expected.end(),
              [&](int32_t a, int32_t b) { return bytes.compare(size_t(a), std::string::npos, bytes, size_t(b)) < 0; });
    ASSERT_EQ(sa, expected) << bytes;
  }
}

}  // namespace
}  // namespace varno
