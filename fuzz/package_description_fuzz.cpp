// The package description: the fixed-position header, the text lines and the section
// lookup, on arbitrary bytes. Beyond memory errors it checks that the lines survive a save
// and a load unchanged and that a section found holds lines of the description.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/ansi_text.h"
#include "base/text_lines.h"
#include "fuzz_check.h"
#include "package/package_header.h"
#include "package/section_lookup.h"
#include "support/memory_files.h"

namespace {

void CheckSection(const std::vector<std::string>& lines, std::string_view header) {
  const auto section = varno::FindSection(lines, header);
  if (!section) return;
  size_t at = 0;
  while (!varno::AnsiSameText(lines[at], header)) ++at;  // FindSection found one
  FUZZ_CHECK(section->hasFollowingLine == (at + 1 < lines.size()));
  FUZZ_CHECK(at + 1 + section->entries.size() <= lines.size());
  for (size_t i = 0; i < section->entries.size(); ++i) {
    FUZZ_CHECK(section->entries[i] == lines[at + 1 + i]);
    FUZZ_CHECK(section->entries[i].empty() || section->entries[i][0] != '[');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const varno::PackageHeader header = varno::ParsePackageHeader(bytes);
  FUZZ_CHECK(header.newVersion.find_first_of("\r\n") == std::string::npos);
  FUZZ_CHECK(header.versionLabel.find_first_of("\r\n") == std::string::npos);

  const std::vector<std::string> lines = varno::SplitTextLines(bytes);
  for (const auto& line : lines) FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
  FUZZ_CHECK(varno::SplitTextLines(varno::JoinLinesCrLf(lines)) == lines);

  varno::fake::MemoryFileSystem files;
  files.AddFile("C:\\Package\\MjaIni.ini", bytes);
  const auto loaded = varno::LoadPackageDescription(files, "C:\\Package\\MjaIni.ini");
  FUZZ_CHECK(loaded && *loaded == lines);

  for (const char* name : {"[reg]", "[desk]", "[programs]", "[subdir]", "[insubdir]"}) CheckSection(lines, name);
  // A header the input chose, accented letters and all.
  if (!lines.empty()) CheckSection(lines, lines.front());
  return 0;
}
