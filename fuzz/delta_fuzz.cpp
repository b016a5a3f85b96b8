// The binary delta decoder, and the encoder beside it. The first byte chooses:
//   0: the rest is a delta, applied to a fixed small source;
//   1: the rest is a source (its length in the next byte) and a delta;
//   2: the rest is a delta's pieces before compression (sizes, then blocks of control,
//      difference runs and extra bytes), which the harness deflates and frames, so that
//      the fuzzer reaches the triples and runs behind the deflate streams' checksums;
//   3: the rest is an old and a new file (split where the next byte says), encoded and
//      applied back.
// Beyond memory errors it checks the decoder's promises: it never writes more than the
// header's result size, and it either succeeds with exactly that many bytes, whose CRC-32
// is the header's, or refuses; and a delta the encoder made gives the new file back.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "delta_encoder.h"
#include "fuzz_check.h"
#include "package/delta_format.h"

namespace {

class BytesInput : public varno::InputFile {
 public:
  explicit BytesInput(std::string_view bytes) : bytes_(bytes) {}
  size_t Read(char* buffer, size_t size) override {
    if (position_ >= bytes_.size()) return 0;
    const size_t got = std::min(size, size_t(bytes_.size() - position_));
    std::memcpy(buffer, bytes_.data() + position_, got);
    position_ += got;
    return got;
  }
  bool Seek(uint64_t position) override {
    position_ = position;
    return true;
  }
  uint64_t Size() override { return bytes_.size(); }

 private:
  std::string_view bytes_;
  uint64_t position_ = 0;
};

class BoundedOutput : public varno::OutputFile {
 public:
  explicit BoundedOutput(uint64_t limit) : limit_(limit) {}
  bool Write(const char* data, size_t size) override {
    FUZZ_CHECK(size <= limit_ - bytes.size());
    bytes.append(data, size);
    return true;
  }
  bool Commit() override { return true; }
  std::string bytes;

 private:
  uint64_t limit_;
};

uint32_t Crc32(std::string_view bytes) {
  return uint32_t(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// Applies the delta and checks the promises; the result when it was accepted.
std::optional<std::string> Apply(std::string_view delta, std::string_view source) {
  BytesInput headerFile(delta);
  const auto header = varno::ReadDeltaHeader(headerFile, delta.size());
  BytesInput deltaFile(delta);
  BytesInput sourceFile(source);
  BoundedOutput out(header ? header->resultSize : 0);
  const auto refusal = varno::ApplyDelta(deltaFile, delta.size(), sourceFile, out);
  if (refusal) {
    FUZZ_CHECK(!refusal->empty());
    return std::nullopt;
  }
  FUZZ_CHECK(header);
  FUZZ_CHECK(header->sourceSize == source.size());
  FUZZ_CHECK(out.bytes.size() == header->resultSize);
  FUZZ_CHECK(Crc32(out.bytes) == header->resultCrc32);
  return out.bytes;
}

std::string Deflated(std::string_view raw) {
  if (raw.empty()) return {};
  uLongf size = compressBound(uLong(raw.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            uLong(raw.size()), 1);
  packed.resize(size);
  return packed;
}

void Put32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(char(value >> (8 * i)));
}

// Takes n bytes from the front of the input (fewer at its end).
std::string_view Take(std::string_view& input, size_t n) {
  const std::string_view taken = input.substr(0, n);
  input.remove_prefix(taken.size());
  return taken;
}

size_t TakeByte(std::string_view& input) {
  const std::string_view byte = Take(input, 1);
  return byte.empty() ? 0 : uint8_t(byte[0]);
}

// Mode 2: source length, result length (bytes), then blocks of three pieces, each led by
// its length byte.
void FramedPieces(std::string_view input) {
  const std::string_view source = Take(input, TakeByte(input));
  const size_t resultSize = TakeByte(input) * 4;
  std::string blocks;
  while (!input.empty()) {
    std::string parts[3];
    for (std::string& part : parts) part = std::string(Take(input, TakeByte(input)));
    for (const std::string& part : parts) Put32(blocks, uint32_t(part.size()));
    std::string packed[3];
    for (int i = 0; i < 3; ++i) packed[i] = Deflated(parts[i]);
    for (const std::string& part : packed) Put32(blocks, uint32_t(part.size()));
    for (const std::string& part : packed) blocks += part;
  }
  varno::DeltaHeader header{source.size(), resultSize, Crc32(source), 0};
  const std::string first = varno::DeltaHeaderBytes(header) + blocks;
  if (Apply(first, source)) return;  // an empty result, whose CRC-32 is 0
  // Unless the CRC-32 alone was wrong, the same refusal again; otherwise, with the CRC-32
  // of what it wrote, an acceptance of the same bytes.
  BytesInput deltaFile(first);
  BytesInput sourceFile(source);
  BoundedOutput out(resultSize);
  const auto refusal = varno::ApplyDelta(deltaFile, first.size(), sourceFile, out);
  if (!refusal || refusal->find("checksum") == std::string::npos) return;
  FUZZ_CHECK(out.bytes.size() == resultSize);
  header.resultCrc32 = Crc32(out.bytes);
  const auto again = Apply(varno::DeltaHeaderBytes(header) + blocks, source);
  FUZZ_CHECK(again && *again == out.bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  static const std::string kSource = [] {
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(char(i * 7 % 251));
    return bytes;
  }();
  switch (TakeByte(input) % 4) {
    case 0:
      Apply(input, kSource);
      break;
    case 1: {
      const std::string_view source = Take(input, TakeByte(input));
      Apply(input, source);
      break;
    }
    case 2:
      FramedPieces(input);
      break;
    case 3: {
      const size_t share = TakeByte(input);
      const std::string_view oldBytes = Take(input, share * input.size() / 256);
      const std::string delta = varno::pack::EncodeDelta(oldBytes, input);
      const auto result = Apply(delta, oldBytes);
      FUZZ_CHECK(result && *result == input);
      break;
    }
  }
  return 0;
}
