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
#include "support/bytes_input.h"
#include "package/member_stream.h"

namespace {

using varno::fake::BytesInput;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // Short reads, as a file may give them.
  BytesInput archive(bytes, 7919);
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
