#include "rollback/journal_scope.h"

#include "base/ansi_text.h"
#include "base/windows_path.h"

namespace varno {
namespace {

using Kind = JournalRecord::Kind;

constexpr char kVendorKey[] = "SOFTWARE\\Tolmerik";
constexpr char kProductKey[] = "SOFTWARE\\Tolmerik\\Varnolith";

// A full path with no level that climbs or stays ("..", "."), no empty level, no level that
// ends with a dot or a blank, and no "/" (which Windows reads as "\"): compared as text, it
// cannot name anything else.
bool Plain(const std::string& path) {
  if (path.find('/') != std::string::npos) return false;
  // After "X:\" or "\\", the server's name and the share's being levels like the others.
  size_t first = 0;
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') first = 3;
  if (path.starts_with("\\\\")) first = 2;
  if (first == 0) return false;
  for (size_t start = first; start <= path.size();) {
    const size_t end = std::min(path.find('\\', start), path.size());
    const std::string level = path.substr(start, end - start);
    // Windows drops a level's trailing dots and blanks ("x\.. ", "..."): compared as
    // text, such a level would not name what Windows opens.
    if (level.empty() || level.back() == '.' || level.back() == ' ') return false;
    start = end + 1;
  }
  return true;
}

bool Same(const std::string& a, const std::string& b) { return AnsiSameText(a, b); }

// Strictly below the directory.
bool Below(const std::string& path, const std::string& directory) {
  const std::string dir = WithoutTrailingBackslash(directory);
  return !dir.empty() && Plain(path) && path.size() > dir.size() + 1 && path[dir.size()] == '\\' &&
         Same(path.substr(0, dir.size()), dir);
}

bool AtOrBelow(const std::string& path, const std::string& directory) {
  return Below(path, directory) || (Plain(path) && Same(path, WithoutTrailingBackslash(directory)));
}

// "<profiles>\<one account>\<folder>\...": the same shell folder in any account's profile.
bool InAnyProfile(const std::string& path, const JournalScope& scope) {
  if (!Below(path, scope.profilesDir)) return false;
  const std::string rest = path.substr(WithoutTrailingBackslash(scope.profilesDir).size() + 1);
  const size_t account = rest.find('\\');
  if (account == std::string::npos) return false;
  const std::string inProfile = rest.substr(account + 1);
  for (const std::string& folder : scope.profileShortcutFolders) {
    const std::string prefix = WithoutTrailingBackslash(folder) + "\\";
    if (inProfile.size() > prefix.size() && Same(inProfile.substr(0, prefix.size()), prefix)) return true;
  }
  return false;
}

bool IsShortcut(const std::string& path, const JournalScope& scope) {
  if (!AnsiUpperCase(path).ends_with(".LNK")) return false;
  for (const std::string& folder : scope.shortcutFolders) {
    if (Below(path, folder)) return true;
  }
  return InAnyProfile(path, scope);
}

bool MayWriteFile(const std::string& path, const JournalScope& scope) {
  return Below(path, scope.installDir) || (Plain(path) && Same(path, scope.controlPath)) || IsShortcut(path, scope);
}

// The file's name + ".vrnundo" and the rest of a name, beside the file; or, for a file
// below the installation, in the directory above (where the backups of a directory's files
// go before the directory is removed).
bool IsBackupOf(const std::string& backup, const std::string& path, const JournalScope& scope) {
  const std::string prefix = std::string(LastComponent(path)) + ".vrnundo";
  const std::string name(LastComponent(backup));
  if (!Plain(backup) || name.size() <= prefix.size() || !Same(name.substr(0, prefix.size()), prefix)) return false;
  const std::string directory = ParentOf(backup);
  return Same(directory, ParentOf(path)) ||
         (Below(backup, scope.installDir) && Same(directory, ParentOf(WithoutTrailingBackslash(ParentOf(path)))));
}

bool MayHoldTemporaries(const std::string& directory, const JournalScope& scope) {
  if (AtOrBelow(directory, scope.installDir) || (Plain(directory) && Same(directory, ParentOf(scope.controlPath)))) {
    return true;
  }
  for (const std::string& folder : scope.shortcutFolders) {
    if (AtOrBelow(directory, folder)) return true;
  }
  return InAnyProfile(directory + "\\x", scope);
}

bool ProductKey(const JournalRecord& record) {
  if (record.root != kHkeyLocalMachine) return false;
  const std::string key = record.path;
  if (key.find("\\\\") != std::string::npos || key.ends_with("\\")) return false;
  return Same(key, kProductKey) ||
         (key.size() > sizeof(kProductKey) && key[sizeof(kProductKey) - 1] == '\\' &&
          Same(key.substr(0, sizeof(kProductKey) - 1), kProductKey));
}

// The version an uninstall entry shows, which the run sets: that one value of an entry
// directly below the machine's uninstall key, and nothing else there.
bool DisplayVersionOfAnEntry(const JournalRecord& record) {
  constexpr std::string_view kEntries = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  const std::string& key = record.path;
  return record.root == kHkeyLocalMachine && AnsiSameText(record.second, "DisplayVersion") &&
         key.size() > kEntries.size() && AnsiSameText(key.substr(0, kEntries.size()), kEntries) &&
         key.find('\\', kEntries.size()) == std::string::npos;
}

}  // namespace

bool WithinScope(const JournalRecord& record, const JournalScope& scope) {
  switch (record.kind) {
    case Kind::NewFile: return MayWriteFile(record.path, scope);
    case Kind::Saved: return MayWriteFile(record.path, scope) && IsBackupOf(record.second, record.path, scope);
    case Kind::RemovedDirectory: return Below(record.path, scope.installDir);
    // An update renames nothing but its shortcuts, each within its folder: a rename from or
    // onto any other file (the control, a library of the installation) is no undo of ours.
    case Kind::Moved:
      return IsShortcut(record.path, scope) && IsShortcut(record.second, scope) &&
             Same(ParentOf(record.path), ParentOf(record.second));
    case Kind::NewDirectory: return Below(record.path, scope.installDir);
    case Kind::TempDirectory: return MayHoldTemporaries(record.path, scope);
    case Kind::NewKey:
      return ProductKey(record) || (record.root == kHkeyLocalMachine && Same(record.path, kVendorKey));
    case Kind::Value:
    case Kind::RawValue: return ProductKey(record) || DisplayVersionOfAnEntry(record);
    case Kind::Control: return Plain(record.path) && Same(record.path, scope.controlPath);
    case Kind::Run: return IsRunTag(record.path);
    case Kind::Committed: return true;
  }
  return false;
}

}  // namespace varno
