// What the delta targets share: files in memory, and a delta applied with the decoder's
// promises checked (it never writes more than the header's result size, and it either
// succeeds with exactly that many bytes, whose CRC-32 is the header's, or refuses).
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "package/delta_format.h"
#include "support/bytes_input.h"

namespace delta_fuzz {

using varno::fake::BytesInput;

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

inline uint32_t Crc32(std::string_view bytes) {
  return uint32_t(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// Applies the delta and checks the promises; the result when it was accepted. With an
// applier, through its buffers, as they were left by the deltas it took before.
inline std::optional<std::string> Apply(std::string_view delta, std::string_view source,
                                        varno::DeltaApplier* applier = nullptr) {
  BytesInput headerFile{std::string(delta)};
  const auto header = varno::ReadDeltaHeader(headerFile, delta.size());
  BytesInput deltaFile{std::string(delta)};
  BytesInput sourceFile{std::string(source)};
  BoundedOutput out(header ? header->resultSize : 0);
  const auto refusal = applier ? applier->Apply(deltaFile, delta.size(), sourceFile, out)
                               : varno::ApplyDelta(deltaFile, delta.size(), sourceFile, out);
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

// Takes n bytes from the front of the input (fewer at its end).
inline std::string_view Take(std::string_view& input, size_t n) {
  const std::string_view taken = input.substr(0, n);
  input.remove_prefix(taken.size());
  return taken;
}

inline size_t TakeByte(std::string_view& input) {
  const std::string_view byte = Take(input, 1);
  return byte.empty() ? 0 : uint8_t(byte[0]);
}

}  // namespace delta_fuzz
