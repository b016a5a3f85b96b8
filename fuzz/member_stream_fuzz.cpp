// The compressed members' decoder alone, on arbitrary archive bytes: a member stream either
// gives exactly the member's real bytes, those zlib itself inflates from all of its stored
// bytes and nothing past them, or says what is wrong and gives no more than its real size.
// Kept apart from the archive target (which unpacks into the in-memory machine) so that it
// runs fast enough for long campaigns.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "zlib_oracle.h"
#include "package/archive_layout.h"
#include "package/member_stream.h"

namespace {

class BytesInput : public varno::InputFile {
 public:
  explicit BytesInput(const std::string& bytes) : bytes_(bytes) {}
  size_t Read(char* buffer, size_t size) override {
    // Short reads, as a file may give them.
    const size_t count = std::min({size, bytes_.size() - position_, size_t{7919}});
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return count;
  }
  bool Seek(uint64_t position) override {
    if (position > bytes_.size()) return false;
    position_ = static_cast<size_t>(position);
    return true;
  }
  uint64_t Size() override { return bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t position_ = 0;
};


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  BytesInput archive(bytes);
  const varno::ArchiveCheck check = varno::ReadArchiveLayout(archive);
  if (!check.Valid()) return 0;
  for (const varno::ArchiveMember& member : check.layout.members) {
    // Real sizes the fuzzer can reach only by claiming them cost time, not coverage.
    if (member.size > (1u << 22)) continue;
    varno::MemberStream stream(archive, member);
    std::string given;
    char chunk[4096];
    while (const size_t read = stream.Read(chunk, sizeof(chunk))) {
      given.append(chunk, read);
      FUZZ_CHECK(given.size() <= member.size);
    }
    FUZZ_CHECK(stream.Complete() != stream.Problem().has_value());
    if (member.method == varno::archive::kStored) {
      FUZZ_CHECK(stream.Complete() && given == bytes.substr(member.offset, member.size));
    } else {
      const auto expected = Inflated(bytes, member);
      FUZZ_CHECK(stream.Complete() == expected.has_value());
      if (expected) FUZZ_CHECK(given == *expected);
    }
  }
  return 0;
}
