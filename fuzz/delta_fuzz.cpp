// The binary delta decoder. The first byte chooses, by its remainder modulo 3:
//   0: the rest is a delta, applied to a fixed small source;
//   1: the rest is a source (its length in the next byte) and a delta; the x86 filter and
//      its reverse must give that source back;
//   2: the rest is a delta's pieces before compression (sizes, then blocks of control,
//      range-coded differences and extra bytes), which the harness frames, the control and
//      extra pieces in stored zlib streams, so that the fuzzer reaches the control entries
//      behind the streams' checksums; with the x86 filter when the first byte's top bit is
//      set, in the former format (triples, no kept stretches) when its next bit is.
// Beyond memory errors it checks the decoder's promises (delta_apply.h). The encoder's
// round trips have their own target, delta_encode.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "delta_apply.h"

namespace {

using namespace delta_fuzz;

void Put32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(char(value >> (8 * i)));
}

// A zlib stream of stored blocks, written here: deflating each piece with zlib would cost
// more than the decoding under test.
std::string Stored(std::string_view raw) {
  if (raw.empty()) return {};
  const uint32_t adler = uint32_t(adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size())));
  std::string stream("\x78\x01", 2);
  do {
    const size_t take = std::min<size_t>(raw.size(), 0xFFFF);
    stream.push_back(take == raw.size() ? 1 : 0);
    for (const uint32_t length : {uint32_t(take), uint32_t(~take & 0xFFFF)}) {
      stream.push_back(char(length));
      stream.push_back(char(length >> 8));
    }
    stream.append(raw.substr(0, take));
    raw.remove_prefix(take);
  } while (!raw.empty());
  for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(char(adler >> shift));
  return stream;
}

// Mode 2: source length, result length (bytes), then blocks of three pieces, each led by
// its length byte.
void FramedPieces(std::string_view input, uint32_t filter, uint32_t version) {
  const std::string_view source = Take(input, TakeByte(input));
  const size_t resultSize = TakeByte(input) * 4;
  std::string blocks;
  while (!input.empty()) {
    std::string parts[3];
    for (std::string& part : parts) part = std::string(Take(input, TakeByte(input)));
    for (const std::string& part : parts) Put32(blocks, uint32_t(part.size()));
    // The difference part is range code, stored as it is.
    const std::string packed[3] = {Stored(parts[0]), parts[1], Stored(parts[2])};
    for (const std::string& part : packed) Put32(blocks, uint32_t(part.size()));
    for (const std::string& part : packed) blocks += part;
  }
  varno::DeltaHeader header{source.size(), resultSize, Crc32(source), 0, filter, version};
  const std::string first = varno::DeltaHeaderBytes(header) + blocks;
  if (Apply(first, source)) return;  // an empty result, whose CRC-32 is 0
  // Unless the CRC-32 alone was wrong, the same refusal again; otherwise, with the CRC-32
  // of what it wrote, an acceptance of the same bytes.
  BytesInput deltaFile(first);
  BytesInput sourceFile{std::string(source)};
  BoundedOutput out(resultSize);
  const auto refusal = varno::ApplyDelta(deltaFile, first.size(), sourceFile, out);
  if (!refusal || refusal->find("checksum") == std::string::npos) return;
  FUZZ_CHECK(out.bytes.size() == resultSize);
  header.resultCrc32 = Crc32(out.bytes);
  // Through the buffers every earlier input left: nothing of them may show in the result.
  static varno::DeltaApplier reused;
  const auto again = Apply(varno::DeltaHeaderBytes(header) + blocks, source, &reused);
  FUZZ_CHECK(again && *again == out.bytes);
}

// The filter and its reverse give back any bytes, at any chunk offset.
void CheckFilterReverses(std::string_view bytes, uint64_t offset) {
  std::string filtered(bytes);
  auto* data = reinterpret_cast<unsigned char*>(filtered.data());
  varno::X86Filter(data, filtered.size(), offset, true);
  varno::X86Filter(data, filtered.size(), offset, false);
  FUZZ_CHECK(filtered == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  static const std::string kSource = [] {
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(char(i * 7 % 251));
    return bytes;
  }();
  const size_t mode = TakeByte(input);
  switch (mode % 3) {
    case 0:
      Apply(input, kSource);
      break;
    case 1: {
      const std::string_view source = Take(input, TakeByte(input));
      CheckFilterReverses(source, (mode >> 2) * varno::delta::kFilterChunk + source.size());
      Apply(input, source);
      break;
    }
    case 2:
      FramedPieces(input, mode >> 7, (mode >> 6 & 1) ? varno::delta::kTripleVersion : varno::delta::kVersion);
      break;
  }
  return 0;
}
