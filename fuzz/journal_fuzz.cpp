// A rollback journal of arbitrary bytes, as a recovery finds one: parsed, every record read
// must encode back to its own line; the records written again by a run must read back whole
// (the seal of each line); and a recovery acts on it, within its scope, on the in-memory
// machine without a crash, a leak or an undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "rollback/rollback.h"
#include "support/memory_machine.h"

namespace {

constexpr char kInstall[] = "C:\\Program Files\\Varnolith";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using varno::JournalRecord;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto records = varno::ParseJournal(bytes);
  if (records) {
    size_t written = 1;
    varno::fake::MemoryFileSystem files;
    files.AddDirectory("C:\\V");
    // Written again as a run writes it: sealed under a run's own tag and key.
    const std::string key = varno::NewJournalKey(files);
    auto journal = varno::Journal::Begin(files, "C:\\V\\VarnoMaJ.journal", varno::NewRunTag(files), key);
    FUZZ_CHECK(journal);
    for (const JournalRecord& record : *records) {
      const std::string line = varno::EncodeJournalRecord(record);
      const auto again = varno::DecodeJournalRecord(line);
      FUZZ_CHECK(again && varno::EncodeJournalRecord(*again) == line);
      if (record.kind != JournalRecord::Kind::Run && journal->Append(record)) ++written;
    }
    journal.reset();
    const auto reread = varno::ParseJournal(*files.Content("C:\\V\\VarnoMaJ.journal"), key);
    FUZZ_CHECK(reread && reread->size() == written);
  }
  varno::fake::MemoryMachine machine;
  machine.files.AddFile(std::string(kInstall) + "\\VarnoMaJ.journal", bytes);
  machine.files.AddFile(std::string(kInstall) + "\\data.bin", "data");
  machine.files.AddFile("C:\\WINDOWS\\system32\\Varxxlith.ocx", "control");
  varno::Platform platform = machine.platform();
  const varno::JournalScope scope{kInstall, "C:\\WINDOWS\\system32\\Varxxlith.ocx", {"C:\\Users\\Public\\Desktop"}};
  varno::RecoverInterruptedRun(platform, kInstall, &scope);
  return 0;
}
