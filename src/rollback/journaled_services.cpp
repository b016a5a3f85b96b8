#include "rollback/journaled_services.h"

#include <vector>

#include "base/ansi_text.h"
#include "base/windows_path.h"

namespace varno {
namespace {

using Kind = JournalRecord::Kind;

// A replacement whose record is announced when it is created and is on the disk before the
// commit changes anything; at its commit it moves the file it replaces aside first.
class JournaledOutput : public OutputFile {
 public:
  JournaledOutput(std::unique_ptr<OutputFile> inner, JournaledFiles& files, FileSystem& raw, Journal& journal,
                  JournalRecord announced)
      : inner_(std::move(inner)), files_(files), raw_(raw), journal_(journal), announced_(std::move(announced)) {}

  bool Write(const char* data, size_t size) override { return inner_->Write(data, size); }
  bool Finish() override { return inner_->Finish(); }

  bool Commit() override {
    // The first commit of replacements announced together flushes all their records at once.
    if (!journal_.Durable()) return false;
    const std::string& target = announced_.path;
    if (!raw_.FileExists(target)) {
      // Announced as a file to save, and gone since: it is a new file now.
      if (announced_.kind != Kind::NewFile && !journal_.Append(MakeRecord(Kind::NewFile, target))) return false;
      return inner_->Commit();
    }
    // A file that could not be replaced in place (read-only, in use) is not moved aside
    // either: a rename would succeed where the replacement is meant to be refused.
    if (!raw_.CanReplace(target)) return false;
    std::string backup = announced_.second;
    const bool aside =
        announced_.kind == Kind::Saved ? raw_.MoveFileTo(target, backup) : files_.MoveAside(target, &backup);
    if (!aside) return false;
    if (inner_->Commit()) return true;
    raw_.MoveFileTo(backup, target);
    return false;
  }

 private:
  std::unique_ptr<OutputFile> inner_;
  JournaledFiles& files_;
  FileSystem& raw_;
  Journal& journal_;
  JournalRecord announced_;
};

}  // namespace

std::unique_ptr<OutputFile> JournaledFiles::CreateReplacement(const std::string& path) {
  if (!Holds(path)) return nullptr;
  // Named so that a recovery finds it again if the process dies before the replacement
  // ends, whatever the journal holds of it then.
  const auto temporary = journal_.TemporaryNameFor(path);
  if (!temporary) return nullptr;
  auto output = inner_.CreateReplacementNamed(path, *temporary);
  if (!output) return nullptr;
  JournalRecord announced = inner_.FileExists(path)
                                ? MakeRecord(Kind::Saved, path, journal_.BackupNameFor(inner_, path))
                                : MakeRecord(Kind::NewFile, path);
  if (announced.kind == Kind::Saved) announced.id = inner_.FileIdOf(path);
  if (!journal_.Announce(announced)) return nullptr;
  return std::make_unique<JournaledOutput>(std::move(output), *this, inner_, journal_, std::move(announced));
}

bool JournaledFiles::MoveAside(const std::string& path, std::string* backup) {
  *backup = journal_.BackupNameFor(inner_, path);
  JournalRecord saved = MakeRecord(Kind::Saved, path, *backup);
  saved.id = inner_.FileIdOf(path);
  return journal_.Append(saved) && inner_.MoveFileTo(path, *backup);
}

bool JournaledFiles::MoveFileTo(const std::string& from, const std::string& to) {
  if (!Holds(from) || !Holds(to)) return false;
  return journal_.Append(MakeRecord(Kind::Moved, from, to)) && inner_.MoveFileTo(from, to);
}

bool JournaledFiles::RemoveFile(const std::string& path) {
  if (!Holds(path) || !inner_.CanReplace(path)) return false;
  std::string backup;
  return MoveAside(path, &backup);
}

bool JournaledFiles::MakeDirectory(const std::string& path) {
  if (!Holds(path) || inner_.DirectoryExists(path) || inner_.FileExists(path)) return false;
  // Made and held in one step: held from its first instant, and every name below it is
  // then reached through the hold, whatever a user makes of the new, empty directory.
  return journal_.Append(MakeRecord(Kind::NewDirectory, path)) && holds_.MakeHeld(path) == DirectoryHold::Held;
}

bool JournaledFiles::RemoveEmptyDirectory(const std::string& path) {
  if (!Holds(JoinPath(path, "x")) || !inner_.DirectoryExists(path)) return false;
  std::vector<std::string> backups;
  auto listing = inner_.ListMatching(path + "\\*");
  while (auto entry = listing->Next()) {
    if (entry->isDirectory || !journal_.IsOwnBackupName(entry->name)) return false;
    backups.push_back(entry->name);
  }
  const size_t separator = path.find_last_of('\\');
  if (separator == std::string::npos) return false;
  const std::string parent = path.substr(0, separator);
  for (const std::string& name : backups) {
    const std::string from = path + "\\" + name;
    const std::string to = journal_.BackupNameFor(inner_, parent + "\\" + name);
    JournalRecord saved = MakeRecord(Kind::Saved, from, to);
    saved.id = inner_.FileIdOf(from);
    if (!journal_.Append(saved) || !inner_.MoveFileTo(from, to)) return false;
  }
  // Its own hold would refuse its removal; its parent stays held.
  holds_.Release(path);
  return journal_.Append(MakeRecord(Kind::RemovedDirectory, path)) && inner_.RemoveEmptyDirectory(path);
}

std::unique_ptr<AppendingFile> JournaledFiles::OpenForAppending(const std::string& path) {
  if (!Holds(path)) return nullptr;
  if (!inner_.FileExists(path) && !journal_.Append(MakeRecord(Kind::NewFile, path))) return nullptr;
  return inner_.OpenForAppending(path);
}

long JournaledRegistry::OpenKey(RegKey parent, const std::string& path, uint32_t access, bool create, RegKey* key) {
  const auto known = names_.find(parent);
  const bool isRoot = parent == kHkeyLocalMachine || parent == kHkeyCurrentUser;
  if (!isRoot && known == names_.end()) return inner_.OpenKey(parent, path, access, create, key);
  const RegKey root = isRoot ? parent : known->second.first;
  const std::string base = isRoot ? std::string() : known->second.second;
  const std::string relative = !path.empty() && path.front() == '\\' ? path.substr(1) : path;
  const std::string full = base.empty() ? relative : relative.empty() ? base : base + "\\" + relative;

  if (create) {
    // Each level that is missing is announced, from the top, so that the undo, last record
    // first, deletes the deepest key before its parent.
    for (size_t end = 0; end != std::string::npos;) {
      end = full.find('\\', end + 1);
      const std::string level = full.substr(0, end);
      if (level.empty()) continue;
      RegKey probe = 0;
      const long found = inner_.OpenKey(root, level, kKeyRead, false, &probe);
      if (found == kRegSuccess) inner_.CloseKey(probe);
      if (found == kRegSuccess) continue;
      // A level that could not be looked at may be missing: made unannounced, it would stay.
      if (found != kRegNotFound) return found;
      if (!journal_.Append(MakeRecord(Kind::NewKey, level, {}, root))) return kRegAccessDenied;
      changed_.Add(root, level);
      changed_.Add(root, ParentKeyOf(level));
    }
  }
  const long status = inner_.OpenKey(parent, path, access, create, key);
  if (status == kRegSuccess) names_[*key] = {root, full};
  return status;
}

void JournaledRegistry::CloseKey(RegKey key) {
  names_.erase(key);
  inner_.CloseKey(key);
}

long JournaledRegistry::RecordValue(RegKey key, const std::string& name) {
  const auto known = names_.find(key);
  if (known == names_.end()) return kRegAccessDenied;  // a change that could not be undone
  JournalRecord record = MakeRecord(Kind::RawValue, known->second.second, name, known->second.first);
  // Only "not found" says the value is absent; a read that fails otherwise (access refused,
  // a value being written) says nothing, and an undo that deleted the value would lose it.
  RegKey reader = 0;
  long status = inner_.OpenKey(record.root, record.path, kKeyRead, false, &reader);
  if (status == kRegSuccess) {
    status = inner_.QueryRawValue(reader, name, &record.type, &record.data);
    inner_.CloseKey(reader);
  }
  if (status != kRegSuccess && status != kRegNotFound) return status;
  record.existed = status == kRegSuccess;
  if (!journal_.Append(record)) return kRegAccessDenied;
  changed_.Add(record.root, record.path);
  return kRegSuccess;
}

long JournaledRegistry::SetValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) {
  const long recorded = RecordValue(key, name);
  return recorded == kRegSuccess ? inner_.SetValue(key, name, type, data) : recorded;
}

long JournaledRegistry::SetRawValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) {
  const long recorded = RecordValue(key, name);
  return recorded == kRegSuccess ? inner_.SetRawValue(key, name, type, data) : recorded;
}

long JournaledRegistry::DeleteValue(RegKey key, const std::string& name) {
  const long recorded = RecordValue(key, name);
  return recorded == kRegSuccess ? inner_.DeleteValue(key, name) : recorded;
}

// The copy goes through one of the run's own temporary names, in a directory the journal
// announced, so that a run killed while copying leaves nothing the recovery cannot find.
bool JournaledShell::CopyToBackup(const std::string& path, const std::string& backup) {
  const auto temporary = journal_.TemporaryNameFor(backup);
  auto source = temporary ? files_.OpenForReading(path) : nullptr;
  auto copy = source ? files_.CreateReplacementNamed(backup, *temporary) : nullptr;
  return copy && CopyAndCommit(*source, *copy);
}

LinkSave JournaledShell::SaveShellLink(const ShellLinkFields& link, const std::string& linkPath) {
  if (!journaledFiles_.Holds(linkPath)) return LinkSave::NotSaved;
  if (files_.FileExists(linkPath)) {
    const std::string backup = journal_.BackupNameFor(files_, linkPath);
    if (!journal_.Append(MakeRecord(Kind::Saved, linkPath, backup)) || !CopyToBackup(linkPath, backup)) {
      return LinkSave::NotSaved;
    }
  } else if (!journal_.Append(MakeRecord(Kind::NewFile, linkPath))) {
    return LinkSave::NotSaved;
  }
  const LinkSave saved = inner_.SaveShellLink(link, linkPath);
  // The shell writes the file by name and leaves it in the system's cache: flushed here, it
  // is on the disk before the commit mark, or a power cut after the run could leave an
  // empty shortcut behind a completed update.
  if (saved == LinkSave::Saved && !files_.FlushFile(linkPath)) return LinkSave::NotSaved;
  return saved;
}

LibraryHandle JournaledLibraries::Load(const std::string& path) {
  const LibraryHandle library = inner_.Load(path);
  if (library) paths_[library] = path;
  return library;
}

std::optional<uint32_t> JournaledLibraries::CallExport(LibraryHandle library, const std::string& name) {
  const auto known = paths_.find(library);
  if (AsciiSameText(name, "DllRegisterServer") && known != paths_.end()) {
    // Refusing the call leaves the registration undone; it counts as a failed one.
    if (!journal_.Append(MakeRecord(Kind::Control, known->second))) return std::nullopt;
  }
  return inner_.CallExport(library, name);
}

void JournaledLibraries::Free(LibraryHandle library) {
  paths_.erase(library);
  inner_.Free(library);
}

}  // namespace varno
