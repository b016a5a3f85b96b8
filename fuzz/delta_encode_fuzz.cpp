// The tool's delta encoder: an old and a new file (the old one's share of the input in the
// first byte), encoded and applied back, must give the new file. Apart from the decoder's
// target, whose rate the encoder's suffix arrays and deflaters would cut several times.
#include "compression/delta_encoder.h"
#include "delta_apply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace delta_fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t share = TakeByte(input);
  const std::string_view oldBytes = Take(input, share * input.size() / 256);
  const std::string delta = varno::pack::EncodeDelta(oldBytes, input);
  const auto result = Apply(delta, oldBytes);
  FUZZ_CHECK(result && *result == input);
  return 0;
}
