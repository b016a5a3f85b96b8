// The .lnk reader: the bytes put on the in-memory desktop and read back through the shell
// link service, and the two readings of the bytes on their own. Beyond memory errors it
// checks what a caller relies on: a target is either empty or starts with its drive and
// ":\", and stays within the length the service reads. (A target rebuilt from the UTF-16
// path keeps every low byte, a zero included; it then only fails to equal a real path.)
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "shortcuts/shell_link.h"
#include "support/memory_machine.h"

namespace {

void CheckTarget(const std::string& target) {
  if (target.empty()) return;
  FUZZ_CHECK(target.size() >= 3 && target[1] == ':' && target[2] == '\\');
  FUZZ_CHECK(target.size() <= 455);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const std::string direct = varno::LinkTargetFromBytes(bytes);
  CheckTarget(direct);
  if (!direct.empty()) FUZZ_CHECK(direct[0] == bytes[101]);
  for (const char drive : {'C', 'z'}) CheckTarget(varno::LinkTargetFallback(bytes, drive));

  // Reading changes nothing on the machine, so one machine serves every input.
  static varno::fake::MemoryMachine machine;
  static varno::Platform platform = machine.platform();
  static varno::ShellLink links(platform);
  const std::string path = std::string(varno::fake::kTestDesktop) + "\\Varnolith.lnk";
  machine.files.AddFile(path, bytes);
  FUZZ_CHECK(links.GetLinkTarget(path) == direct);
  FUZZ_CHECK(machine.dialogs.shown.empty());
  return 0;
}
