#include "rollback/rollback.h"

#include "base/ansi_text.h"

namespace varno {
namespace {

using Kind = JournalRecord::Kind;

constexpr uint32_t kKeyWriteAccess = 0x20006;

std::string ParentKey(const std::string& key) {
  const size_t separator = key.find_last_of('\\');
  return separator == std::string::npos ? std::string() : key.substr(0, separator);
}

std::string LastKey(const std::string& key) {
  const size_t separator = key.find_last_of('\\');
  return separator == std::string::npos ? key : key.substr(separator + 1);
}

bool PutBack(FileSystem& files, const std::string& path, const std::string& backup) {
  if (!files.FileExists(backup)) return true;  // never moved aside, or already back
  if (files.FileExists(path) && !files.RemoveFile(path)) return false;
  return files.MoveFileTo(backup, path);
}

bool DeleteKey(Registry& registry, RegKey root, const std::string& key) {
  RegKey parent = root;
  const std::string parentPath = ParentKey(key);
  if (!parentPath.empty()) {
    const long opened = registry.OpenKey(root, parentPath, kKeyWriteAccess, false, &parent);
    if (opened == kRegNotFound) return true;
    if (opened != kRegSuccess) return false;
  }
  const long deleted = registry.DeleteSubKey(parent, LastKey(key));
  if (parent != root) registry.CloseKey(parent);
  return deleted == kRegSuccess || deleted == kRegNotFound;
}

bool RestoreValue(Registry& registry, const JournalRecord& record) {
  RegKey key = 0;
  const long opened = registry.OpenKey(record.root, record.path, kKeySetValue, false, &key);
  if (opened != kRegSuccess) return !record.existed && opened == kRegNotFound;
  long status = kRegSuccess;
  if (record.existed) {
    status = registry.SetValue(key, record.second, record.type, record.data);
  } else {
    status = registry.DeleteValue(key, record.second);
    if (status == kRegNotFound) status = kRegSuccess;
  }
  registry.CloseKey(key);
  return status == kRegSuccess;
}

bool RegisterAgain(Platform& platform, const std::string& path) {
  if (!platform.files.FileExists(path)) return true;  // the run had put the only control there
  const LibraryHandle library = platform.libraries.Load(path);
  if (!library) return false;
  const auto status = platform.libraries.CallExport(library, "DllRegisterServer");
  platform.libraries.Free(library);
  return status && *status == 0;
}

std::string RootName(RegKey root) { return root == kHkeyCurrentUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\"; }

bool Undo(Platform& platform, const JournalRecord& record) {
  FileSystem& files = platform.files;
  switch (record.kind) {
    case Kind::NewFile: return !files.FileExists(record.path) || files.RemoveFile(record.path);
    case Kind::Saved: return PutBack(files, record.path, record.second);
    case Kind::Moved:
      if (files.FileExists(record.path) || !files.FileExists(record.second)) return true;
      return files.MoveFileTo(record.second, record.path);
    case Kind::NewDirectory: return !files.DirectoryExists(record.path) || files.RemoveEmptyDirectory(record.path);
    case Kind::RemovedDirectory: return files.DirectoryExists(record.path) || files.MakeDirectory(record.path);
    case Kind::NewKey: return DeleteKey(platform.registry, record.root, record.path);
    case Kind::Value: return RestoreValue(platform.registry, record);
    case Kind::Control:
    case Kind::Committed: return true;
  }
  return true;
}

std::string Describe(const JournalRecord& record) {
  switch (record.kind) {
    case Kind::NewKey: return RootName(record.root) + record.path;
    case Kind::Value: return RootName(record.root) + record.path + "\\" + record.second;
    default: return record.path;
  }
}

bool Committed(const std::vector<JournalRecord>& records) {
  return !records.empty() && records.back().kind == Kind::Committed;
}

bool RemoveBackups(FileSystem& files, const std::vector<JournalRecord>& records) {
  bool all = true;
  for (const JournalRecord& record : records) {
    if (record.kind == Kind::Saved && files.FileExists(record.second) && !files.RemoveFile(record.second)) all = false;
  }
  return all;
}

}  // namespace

RollbackFailures UndoJournalRecords(Platform& platform, const std::vector<JournalRecord>& records) {
  RollbackFailures failures;
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    if (!Undo(platform, *record)) failures.push_back(Describe(*record));
  }
  for (const JournalRecord& record : records) {
    if (record.kind == Kind::Control && !RegisterAgain(platform, record.path)) failures.push_back(record.path);
  }
  return failures;
}

UpdateTransaction::UpdateTransaction(Platform& real, std::unique_ptr<Journal> journal)
    : real_(real),
      journal_(std::move(journal)),
      files_(real.files, *journal_),
      registry_(real.registry, *journal_),
      shell_(real.shell, real.files, *journal_),
      libraries_(real.libraries, *journal_),
      journaled_{files_, registry_, shell_, real.dialogs, real.window, real.processes, libraries_, real.system} {}

std::unique_ptr<UpdateTransaction> UpdateTransaction::Begin(Platform& real, const std::string& installDir) {
  auto journal = Journal::Begin(real.files, JoinPath(installDir, kJournalFileName));
  if (!journal) return nullptr;
  return std::unique_ptr<UpdateTransaction>(new UpdateTransaction(real, std::move(journal)));
}

bool UpdateTransaction::Commit() {
  if (!journal_->Append(MakeRecord(Kind::Committed))) return false;
  journal_->Close();
  const auto records = ReadJournal(real_.files, journal_->Path());
  journal_->Close();
  if (records && RemoveBackups(real_.files, *records)) real_.files.RemoveFile(journal_->Path());
  return true;
}

RollbackFailures UpdateTransaction::Rollback() {
  journal_->Close();
  const auto records = ReadJournal(real_.files, journal_->Path());
  if (!records) return {journal_->Path()};
  RollbackFailures failures = UndoJournalRecords(real_, *records);
  journal_->Close();
  if (failures.empty()) real_.files.RemoveFile(journal_->Path());
  return failures;
}

Recovery RecoverInterruptedRun(Platform& platform, const std::string& installDir) {
  Recovery recovery;
  const std::string path = JoinPath(installDir, kJournalFileName);
  if (installDir.empty() || !platform.files.FileExists(path)) return recovery;
  // A journal cut short before its first line ended announced nothing: nothing was changed.
  const auto bytes = platform.files.ReadWholeFile(path);
  if (bytes && bytes->find("\r\n") == std::string::npos) {
    platform.files.RemoveFile(path);
    return recovery;
  }
  const auto records = bytes ? ParseJournal(*bytes) : std::nullopt;
  if (!records) {
    recovery.kind = Recovery::Kind::Incomplete;
    recovery.failures.push_back(path);
    return recovery;
  }
  if (Committed(*records)) {
    recovery.kind = Recovery::Kind::Cleaned;
    if (!RemoveBackups(platform.files, *records)) return recovery;
  } else {
    recovery.failures = UndoJournalRecords(platform, *records);
    recovery.kind = recovery.failures.empty() ? Recovery::Kind::Restored : Recovery::Kind::Incomplete;
    if (!recovery.failures.empty()) return recovery;
  }
  platform.files.RemoveFile(path);
  return recovery;
}

}  // namespace varno
