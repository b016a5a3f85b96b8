#include "rollback/run_anchor.h"

#include "base/ansi_text.h"
#include "base/windows_path.h"
#include "rollback/journal.h"

namespace varno {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kVendorKey[] = "SOFTWARE\\Tolmerik";

std::string ValueName(const std::string& installDir) { return AnsiUpperCase(WithoutTrailingBackslash(installDir)); }

std::string ToHex(std::string_view bytes) {
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const auto high = std::string_view(kHex).find(hex[i]), low = std::string_view(kHex).find(hex[i + 1]);
    if (high == std::string_view::npos || low == std::string_view::npos) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

std::string Encode(const RunAnchor& anchor) {
  return (anchor.HasRun() ? anchor.tag : "-") + "\t" + (anchor.HasRun() ? ToHex(anchor.key) : "-") + "\t" +
         (anchor.repairDue ? "R" : "-");
}

// An anchor that cannot be read whole says at least that something is to be repaired.
RunAnchor Decode(const std::string& data) {
  RunAnchor anchor;
  anchor.repairDue = true;
  const size_t first = data.find('\t'), second = data.find('\t', first + 1);
  if (first == std::string::npos || second == std::string::npos) return anchor;
  const std::string tag = data.substr(0, first), key = data.substr(first + 1, second - first - 1);
  const std::string repair = data.substr(second + 1);
  anchor.repairDue = repair != "-";
  if (tag == "-") return anchor;
  const auto bytes = FromHex(key);
  if (!IsRunTag(tag) || !bytes || bytes->size() != 32) {
    anchor.repairDue = true;
    return anchor;
  }
  anchor.tag = tag;
  anchor.key = *bytes;
  return anchor;
}

// Nothing may stand at the journal's place but an unfinished run's journal: a plain file
// of one name, which recovery left because it could not finish it.
bool MayBeAJournal(FileSystem& files, const std::string& path) {
  if (files.DirectoryExists(path)) return false;
  return !files.IsLinked(path);
}

}  // namespace

std::optional<RunAnchor> ReadRunAnchor(Registry& registry, const std::string& installDir) {
  RegKey key = 0;
  const long opened = registry.OpenAdministratorsKey(kRunAnchorKey, false, &key);
  if (opened == kRegNotFound) return RunAnchor{};
  if (opened != kRegSuccess) return std::nullopt;
  uint32_t type = 0;
  std::string data;
  const long read = registry.QueryValue(key, ValueName(installDir), &type, &data);
  registry.CloseKey(key);
  if (read == kRegNotFound) return RunAnchor{};
  if (read != kRegSuccess) return std::nullopt;
  return Decode(data);
}

bool WriteRunAnchor(Registry& registry, const std::string& installDir, const RunAnchor& anchor) {
  RegKey key = 0;
  if (registry.OpenAdministratorsKey(kRunAnchorKey, true, &key) != kRegSuccess) return false;
  long status = kRegSuccess;
  if (anchor.HasRun() || anchor.repairDue) {
    const std::string data = Encode(anchor);
    status = registry.SetValue(key, ValueName(installDir), kRegBinary, data);
  } else {
    status = registry.DeleteValue(key, ValueName(installDir));
    if (status == kRegNotFound) status = kRegSuccess;
  }
  if (status == kRegSuccess) status = registry.FlushKey(key);
  registry.CloseKey(key);
  // A run's anchor may be the first: the key itself, and the vendor's key above it, are
  // on the disk only once the keys that list them are flushed too.
  for (const char* parent : {kVendorKey, "SOFTWARE"}) {
    if (status != kRegSuccess || !anchor.HasRun()) break;
    RegKey above = 0;
    status = registry.OpenKey(kHkeyLocalMachine, parent, kKeyQueryValue, false, &above);
    if (status == kRegSuccess) status = registry.FlushKey(above);
    if (above) registry.CloseKey(above);
  }
  return status == kRegSuccess;
}

std::optional<std::string> MoveAsideUnderOwnName(FileSystem& files, const std::string& path, const std::string& suffix) {
  std::string aside = path + suffix;
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (!files.FileExists(aside) && !files.DirectoryExists(aside) && files.MoveFileTo(path, aside)) return aside;
    aside = path + suffix + "-" + NewRunTag(files);
  }
  return std::nullopt;
}

std::unique_ptr<Journal> BeginAnchoredJournal(FileSystem& files, Registry& registry, const std::string& installDir,
                                              const std::string& journalPath, BeginRefusal* why) {
  BeginRefusal ignored = BeginRefusal::None;
  BeginRefusal& refusal = why ? *why : ignored;
  refusal = BeginRefusal::Failed;
  const std::optional<RunAnchor> previous = ReadRunAnchor(registry, installDir);
  if (!previous) return nullptr;
  if (previous->HasRun()) {
    refusal = BeginRefusal::EarlierRunUnfinished;
    return nullptr;
  }
  // A stray directory, a link or a second name of some other file where the journal goes
  // would stop every run; what stands there now is nobody's journal.
  if ((files.FileExists(journalPath) || files.DirectoryExists(journalPath)) && !MayBeAJournal(files, journalPath) &&
      !MoveAsideUnderOwnName(files, journalPath, kStrayJournalSuffix)) {
    return nullptr;
  }
  RunAnchor anchor;
  anchor.tag = NewRunTag(files);
  anchor.key = NewJournalKey(files);
  anchor.repairDue = previous->repairDue;
  if (!WriteRunAnchor(registry, installDir, anchor)) return nullptr;
  bool ownerRefused = false;
  auto journal = Journal::Begin(files, journalPath, anchor.tag, anchor.key, &ownerRefused);
  if (!journal) {
    // Nothing was changed: the anchor goes back to what it was.
    WriteRunAnchor(registry, installDir, *previous);
    if (ownerRefused) refusal = BeginRefusal::OwnerRefused;
    return nullptr;
  }
  refusal = BeginRefusal::None;
  return journal;
}

}  // namespace varno
