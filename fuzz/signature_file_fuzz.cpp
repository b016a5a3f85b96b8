// The package's signature file, on arbitrary bytes. Beyond memory errors it checks that
// the reader accepts only the one written form of what it read (so no two byte strings
// carry the same list and signature), and that every name it accepts stays inside the
// package directory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "package/package_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto file = varno::ParseSignatureFile(bytes);
  if (!file) return 0;
  FUZZ_CHECK(varno::FormatManifest(file->files) == file->signedPart);
  FUZZ_CHECK(varno::FormatSignatureFile(file->signedPart, file->signature) == bytes);
  for (const auto& entry : file->files) {
    FUZZ_CHECK(entry.sha256.size() == 32);
    FUZZ_CHECK(!entry.name.empty() && entry.name[0] != '\\' && entry.name.find(':') == std::string::npos);
    const std::string levels = "\\" + entry.name + "\\";
    FUZZ_CHECK(levels.find("\\..\\") == std::string::npos && levels.find("\\\\") == std::string::npos);
  }
  return 0;
}
