// The package archive reader: the whole-archive check, then the unpacking of the same bytes
// into a directory of the in-memory machine with an uninstall record. Beyond memory errors
// it checks the promises of the format: a refused archive writes and records nothing, an
// accepted one has members back to back inside the file with safe names, and unpacking
// writes nothing outside the target directory and each file gets its member's exact bytes:
// a compressed member's file exists only when zlib itself inflates its stored bytes, all
// of them and nothing past them, to exactly its real size.
#include <cstddef>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include <zlib.h>

#include "base/ansi_text.h"
#include "fuzz_check.h"
#include "package/archive_layout.h"
#include "steps/archive_extraction.h"
#include "support/memory_machine.h"

namespace {

using varno::fake::MemoryMachine;

constexpr char kArchive[] = "C:\\Package\\sor_ti1.slp";
constexpr char kTarget[] = "C:\\Varnolith\\";

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && varno::AnsiSameText(text.substr(0, prefix.size()), prefix);
}

// The file system's lines that the unpacking added or changed.
std::vector<std::string> NewLines(const std::string& before, const std::string& after) {
  std::map<std::string, int> seen;
  std::istringstream old(before);
  for (std::string line; std::getline(old, line);) ++seen[line];
  std::vector<std::string> added;
  std::istringstream now(after);
  for (std::string line; std::getline(now, line);) {
    if (seen[line]-- <= 0) added.push_back(line);
  }
  return added;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  MemoryMachine machine;
  machine.files.AddDirectory(kTarget);
  // Members in a sub-directory reach the writing path too.
  machine.files.AddDirectory(std::string(kTarget) + "Sub");
  machine.files.AddFile(kArchive, bytes);

  const varno::ArchiveCheck check = varno::CheckArchiveFile(machine.files, kArchive);
  const auto& members = check.layout.members;
  if (check.Valid()) {
    const bool compressed = check.layout.compressed;
    FUZZ_CHECK(size >= varno::archive::kHeaderSize && bytes.compare(0, 3, compressed ? "SG2" : "SG1") == 0);
    FUZZ_CHECK(members.size() <= varno::archive::kMaxMembers);
    uint64_t next = varno::archive::kHeaderSize + (compressed ? 9 : 4) * members.size();
    for (const auto& member : members) {
      FUZZ_CHECK(member.offset == next);
      next += member.storedSize;
      FUZZ_CHECK(!varno::CheckMemberName(member.name));
      FUZZ_CHECK(member.method == varno::archive::kDeflate || member.storedSize == member.size);
      FUZZ_CHECK(compressed || member.method == varno::archive::kStored);
    }
    FUZZ_CHECK(check.layout.nameTableOffset == next && next <= size);
  }

  const std::string before = machine.files.Dump();
  varno::WriteLogList record;
  record.Append("[SurFile]");
  record.Append("older.dll");
  varno::Platform platform = machine.platform();
  varno::ExtractArchive(platform, kArchive, kTarget, record, 1);

  if (!check.Valid()) {
    FUZZ_CHECK(machine.files.Dump() == before);
    FUZZ_CHECK(record.Count() == 2);
    FUZZ_CHECK(machine.dialogs.shown.size() == 1);
    return 0;
  }
  FUZZ_CHECK(machine.dialogs.shown.empty());
  FUZZ_CHECK(record.Count() <= 2 + members.size());
  for (const std::string& line : NewLines(before, machine.files.Dump())) {
    FUZZ_CHECK(StartsWithNoCase(line, std::string("[file] ") + kTarget));
  }
  // The last member written to each file decides its content.
  std::map<std::string, const varno::ArchiveMember*> last;
  for (const auto& member : members) {
    last[varno::AnsiUpperCase(machine.files.FullPath(kTarget + member.name))] = &member;
  }
  for (const auto& [path, member] : last) {
    const auto content = machine.files.Content(path);
    if (!content) continue;
    if (member->method == varno::archive::kStored) {
      FUZZ_CHECK(*content == bytes.substr(member->offset, member->size));
      continue;
    }
    FUZZ_CHECK(content->size() == member->size);
    std::string inflated(content->size() + 1, '\0');
    uLongf produced = inflated.size();
    uLong consumed = member->storedSize;
    const int status = uncompress2(reinterpret_cast<Bytef*>(inflated.data()), &produced,
                                   reinterpret_cast<const Bytef*>(bytes.data() + member->offset), &consumed);
    FUZZ_CHECK(status == Z_OK && consumed == member->storedSize && produced == content->size());
    FUZZ_CHECK(inflated.compare(0, produced, *content) == 0);
  }
  return 0;
}
