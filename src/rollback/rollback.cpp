#include "rollback/rollback.h"

#include <algorithm>

#include "base/ansi_text.h"
#include "rollback/changed_keys.h"

namespace varno {
namespace {

using Kind = JournalRecord::Kind;

constexpr uint32_t kKeyWriteAccess = 0x20006;
// Where the system keeps the files to delete at the next start.
constexpr char kPendingRemovalsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::string LastKey(const std::string& key) {
  const size_t separator = key.find_last_of('\\');
  return separator == std::string::npos ? key : key.substr(separator + 1);
}

bool PutBack(FileSystem& files, const std::string& path, const std::string& backup) {
  if (!files.FileExists(backup)) return true;  // never moved aside, or already back
  if (files.FileExists(path) && !files.RemoveFile(path)) return false;
  return files.MoveFileTo(backup, path);
}

bool DeleteKey(Registry& registry, RegKey root, const std::string& key, ChangedKeys& changed) {
  changed.Add(root, ParentKeyOf(key));
  RegKey parent = root;
  const std::string parentPath = ParentKeyOf(key);
  if (!parentPath.empty()) {
    const long opened = registry.OpenKey(root, parentPath, kKeyWriteAccess, false, &parent);
    if (opened == kRegNotFound) return true;
    if (opened != kRegSuccess) return false;
  }
  const long deleted = registry.DeleteSubKey(parent, LastKey(key));
  if (parent != root) registry.CloseKey(parent);
  return deleted == kRegSuccess || deleted == kRegNotFound;
}

bool RestoreValue(Registry& registry, const JournalRecord& record, ChangedKeys& changed) {
  RegKey key = 0;
  const long opened = registry.OpenKey(record.root, record.path, kKeySetValue, false, &key);
  if (opened != kRegSuccess) return !record.existed && opened == kRegNotFound;
  changed.Add(record.root, record.path);
  long status = kRegSuccess;
  if (record.existed && record.kind == Kind::RawValue) {
    status = registry.SetRawValue(key, record.second, record.type, record.data);
  } else if (record.existed) {
    // A journal left by the previous program holds the value as the ANSI functions gave it.
    status = registry.SetValue(key, record.second, record.type, record.data);
  } else {
    status = registry.DeleteValue(key, record.second);
    if (status == kRegNotFound) status = kRegSuccess;
  }
  registry.CloseKey(key);
  return status == kRegSuccess;
}

// A control the run brought where none was: its registration goes before its file does,
// while the library is still there to undo what it wrote. A library that cannot be loaded,
// or has no such export, registered nothing it could take back. False when the control
// itself reported a failure.
bool Unregister(Platform& platform, const std::string& path) {
  if (!platform.files.FileExists(path)) return true;
  const LibraryHandle library = platform.libraries.Load(path);
  if (!library) return true;
  const auto status = platform.libraries.CallExport(library, "DllUnregisterServer");
  platform.libraries.Free(library);
  return !status || *status == 0;
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

bool Undo(Platform& platform, const JournalRecord& record, ChangedKeys& changed, HeldDirectories& holds) {
  FileSystem& files = platform.files;
  switch (record.kind) {
    case Kind::NewFile: return !files.FileExists(record.path) || files.RemoveFile(record.path);
    case Kind::Saved: return PutBack(files, record.path, record.second);
    case Kind::Moved:
      if (files.FileExists(record.path) || !files.FileExists(record.second)) return true;
      return files.MoveFileTo(record.second, record.path);
    case Kind::NewDirectory:
      holds.Release(record.path);  // held, it could not be removed
      return !files.DirectoryExists(record.path) || files.RemoveEmptyDirectory(record.path);
    case Kind::RemovedDirectory: return files.DirectoryExists(record.path) || files.MakeDirectory(record.path);
    case Kind::NewKey: return DeleteKey(platform.registry, record.root, record.path, changed);
    case Kind::Value:
    case Kind::RawValue: return RestoreValue(platform.registry, record, changed);
    // The run's tag and its temporary directories were dealt with before any record is
    // undone (the sweep of the run's temporary files); a control is undone by its own step.
    case Kind::Run:
    case Kind::TempDirectory:
    case Kind::Control:
    case Kind::Committed: return true;
  }
  return true;
}

std::string Describe(const JournalRecord& record) {
  switch (record.kind) {
    case Kind::NewKey: return RootName(record.root) + record.path;
    case Kind::Value:
    case Kind::RawValue: return RootName(record.root) + record.path + "\\" + record.second;
    default: return record.path;
  }
}

bool Committed(const std::vector<JournalRecord>& records) {
  return !records.empty() && records.back().kind == Kind::Committed;
}

// The backups of a completed run. One that cannot be deleted now (a program still runs
// from it) is left to the system to delete at the next start, so that no later update is
// held up by it; what neither can remove is returned. The system keeps that list in the
// registry and writes it to the disk lazily: it is flushed before the journal may go, or a
// power cut would lose the deletion with the only record of the backup.
//
// A backup is deleted only from a held directory, and only while it is still the file the run
// moved aside: a standard user who can write there may have put another file, or a link to
// one, at its name. A journal of an earlier version has no ID: its backup is deleted through
// a handle that does not follow a link.
RollbackFailures RemoveBackups(Platform& platform, const std::vector<JournalRecord>& records, HeldDirectories& holds) {
  FileSystem& files = platform.files;
  RollbackFailures kept, atRestart;
  for (const JournalRecord& record : records) {
    if (record.kind != Kind::Saved) continue;
    const DirectoryHold hold = holds.HoldDirectoryOf(record.second);
    if (hold == DirectoryHold::Missing) continue;  // gone with its directory
    if (hold != DirectoryHold::Held) {
      kept.push_back(record.second);
      continue;
    }
    if (!files.FileExists(record.second)) continue;
    if (record.id && files.FileIdOf(record.second) != record.id) {
      kept.push_back(record.second);
      continue;
    }
    if (record.id ? files.RemoveFileIfSame(record.second, *record.id) : files.RemoveFile(record.second)) continue;
    (files.RemoveAtRestart(record.second) ? atRestart : kept).push_back(record.second);
  }
  if (!atRestart.empty()) {
    RegKey key = 0;
    const bool flushed =
        platform.registry.OpenKey(kHkeyLocalMachine, kPendingRemovalsKey, kKeyQueryValue, false, &key) == kRegSuccess &&
        platform.registry.FlushKey(key) == kRegSuccess;
    if (key) platform.registry.CloseKey(key);
    if (!flushed) kept.insert(kept.end(), atRestart.begin(), atRestart.end());
  }
  return kept;
}

// The temporary files the run had under way when it ended: its own names only, in the
// directories it announced.
RollbackFailures RemoveTemporaryFiles(FileSystem& files, const std::vector<JournalRecord>& records,
                                      HeldDirectories& holds) {
  RollbackFailures kept;
  std::string tag;
  for (const JournalRecord& record : records) {
    if (record.kind == Kind::Run) tag = record.path;
  }
  if (tag.empty()) return kept;
  for (const JournalRecord& record : records) {
    if (record.kind != Kind::TempDirectory) continue;
    const DirectoryHold hold = holds.HoldDirectoryOf(JoinPath(record.path, "x"));
    if (hold == DirectoryHold::Missing) continue;
    if (hold != DirectoryHold::Held) {
      kept.push_back(record.path);
      continue;
    }
    auto listing = files.ListMatching(JoinPath(record.path, TemporaryFileMask(tag)));
    while (const auto entry = listing->Next()) {
      const std::string path = JoinPath(record.path, entry->name);
      if (!entry->isDirectory && !files.RemoveFile(path)) kept.push_back(path);
    }
  }
  return kept;
}

bool IsFileRecord(const JournalRecord& record) {
  switch (record.kind) {
    case Kind::NewFile:
    case Kind::Saved:
    case Kind::Moved:
    case Kind::NewDirectory:
    case Kind::RemovedDirectory: return true;
    default: return false;
  }
}

// Each drive a run changed something on ("C:\\"). NTFS keeps a log per volume: the journal's
// flush makes its own volume's renames durable, not those of the system directory's or the
// shortcuts' volume.
std::vector<std::string> VolumesOf(const std::vector<JournalRecord>& records) {
  std::vector<std::string> volumes;
  const auto add = [&volumes](const std::string& path) {
    if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return;
    const std::string root = AnsiUpperCase(path.substr(0, 3));
    if (std::find(volumes.begin(), volumes.end(), root) == volumes.end()) volumes.push_back(root);
  };
  for (const JournalRecord& record : records) {
    if (!IsFileRecord(record) && record.kind != Kind::TempDirectory && record.kind != Kind::Control) continue;
    add(record.path);
    add(record.second);
  }
  return volumes;
}

// What the run changed on every volume reaches its disk: before the completion mark, and
// before a journal is deleted, so that a power cut never leaves one volume's changes
// without the journal that completes or undoes them. A volume the system will not flush (a
// share) is left to its own cache; nothing more can be done for it.
void FlushVolumes(FileSystem& files, const std::vector<JournalRecord>& records) {
  for (const std::string& volume : VolumesOf(records)) files.FlushVolume(volume);
}

// No control was at the path before the run: the run never moved one aside there.
bool ControlWasNew(const std::vector<JournalRecord>& records, const std::string& path) {
  for (const JournalRecord& record : records) {
    if (record.kind == Kind::Saved && AnsiSameText(record.path, path)) return false;
  }
  return true;
}

// Puts a journal where no later run takes it up again, under a name nothing else has (a
// directory or another file's second name may stand at the first choice); when it cannot
// be moved, its path joins the failures.
void SetAside(FileSystem& files, const std::string& path, Recovery& recovery) {
  if (!MoveAsideUnderOwnName(files, path, kSetAsideSuffix)) recovery.failures.push_back(path);
}

// The journal is gone, and that is on the disk, before its run leaves the anchor: a power
// cut between the two then finds an anchored run without a journal, which asks for a
// repair, never a journal without its anchor, which nothing would authenticate.
void EndAnchoredRun(Platform& platform, const std::string& installDir, const std::string& journal, bool repairDue) {
  platform.files.FlushVolume(journal);
  RunAnchor anchor;
  anchor.repairDue = repairDue;
  WriteRunAnchor(platform.registry, installDir, anchor);
}

enum class Reach { Held, NothingThere, Unsafe };

// Whether a file record can be undone in held directories. A directory that is missing holds
// nothing to undo, unless the other end of the record is still there to be put back (or the
// record would make a directory in it); one that is a link, or cannot be held, is unsafe.
// Nothing is looked up through a missing directory: one made meanwhile may be a junction.
Reach ReachOf(FileSystem& files, HeldDirectories& holds, const JournalRecord& record) {
  bool missing = false;
  for (const std::string* path : {&record.path, &record.second}) {
    if (path->empty()) continue;
    const DirectoryHold hold = holds.HoldDirectoryOf(*path);
    if (hold == DirectoryHold::Missing) missing = true;
    if (hold == DirectoryHold::Linked || hold == DirectoryHold::Refused) return Reach::Unsafe;
  }
  if (!missing) return Reach::Held;
  bool stranded = record.kind == Kind::RemovedDirectory;
  for (const std::string* path : {&record.path, &record.second}) {
    if (!path->empty() && holds.HoldDirectoryOf(*path) == DirectoryHold::Held && files.FileExists(*path)) stranded = true;
  }
  return stranded ? Reach::Unsafe : Reach::NothingThere;
}

}  // namespace

RollbackFailures UndoJournalRecords(Platform& platform, const std::vector<JournalRecord>& records,
                                    HeldDirectories& holds) {
  RollbackFailures failures = RemoveTemporaryFiles(platform.files, records, holds);
  ChangedKeys changed;
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    // Nothing is undone through a directory that became a link since the run: the undo
    // would land in the link's target.
    if (IsFileRecord(*record)) {
      const Reach reach = ReachOf(platform.files, holds, *record);
      if (reach == Reach::Unsafe) failures.push_back(Describe(*record));
      if (reach != Reach::Held) continue;
    }
    const bool undone = record->kind == Kind::Control && ControlWasNew(records, record->path)
                            ? Unregister(platform, record->path)
                            : Undo(platform, *record, changed, holds);
    if (!undone) failures.push_back(Describe(*record));
  }
  for (const JournalRecord& record : records) {
    if (record.kind == Kind::Control && !ControlWasNew(records, record.path) && !RegisterAgain(platform, record.path)) {
      failures.push_back(record.path);
    }
  }
  // The journal is deleted once the undo is complete: the keys put back must be on the disk
  // by then, or a power cut could bring the run's values back without their journal.
  for (std::string& key : changed.Flush(platform.registry)) failures.push_back(std::move(key));
  return failures;
}

UpdateTransaction::UpdateTransaction(Platform& real, std::unique_ptr<Journal> journal, HeldDirectories holds,
                                     std::string installDir, bool repairDue)
    : real_(real),
      installDir_(std::move(installDir)),
      repairDueBefore_(repairDue),
      journal_(std::move(journal)),
      holds_(std::move(holds)),
      files_(real.files, *journal_, holds_),
      registry_(real.registry, *journal_),
      shell_(real.shell, real.files, files_, *journal_),
      libraries_(real.libraries, *journal_),
      journaled_{files_, registry_, shell_, real.dialogs, real.window, real.processes, libraries_, real.system, real.holders} {}

std::unique_ptr<UpdateTransaction> UpdateTransaction::Begin(Platform& real, const std::string& installDir,
                                                            const std::vector<std::string>& shortcutFolders,
                                                            std::optional<HoldRefusal>* unheld, BeginRefusal* why) {
  std::vector<std::string> roots{installDir};
  roots.insert(roots.end(), shortcutFolders.begin(), shortcutFolders.end());
  HeldDirectories holds(real.files, std::move(roots));
  if (auto refused = holds.HoldDown(installDir)) {
    if (unheld) *unheld = std::move(refused);
    return nullptr;
  }
  const bool repairDue = RepairDue(real.registry, installDir);
  auto journal = BeginAnchoredJournal(real.files, real.registry, installDir, JoinPath(installDir, kJournalFileName), why);
  if (!journal) return nullptr;
  return std::unique_ptr<UpdateTransaction>(
      new UpdateTransaction(real, std::move(journal), std::move(holds), installDir, repairDue));
}

void UpdateTransaction::EndRun(bool repairDue) { EndAnchoredRun(real_, installDir_, journal_->Path(), repairDue); }

bool UpdateTransaction::Commit() {
  // The mark says the registry holds the new state for good: a key still waiting for the
  // disk could lose the new values to a power cut while the journal no longer takes the
  // files back.
  if (!registry_.FlushChangedKeys().empty()) return false;
  FlushVolumes(real_.files, journal_->Records());
  if (!journal_->Append(MakeRecord(Kind::Committed))) return false;
  journal_->Close();
  if (!RemoveBackups(real_, journal_->Records(), holds_).empty()) return true;
  FlushVolumes(real_.files, journal_->Records());
  // The whole package is in place: whatever an earlier run left half done is repaired.
  if (real_.files.RemoveFile(journal_->Path())) EndRun(false);
  holds_.ReleaseAll();
  return true;
}

RollbackFailures UpdateTransaction::Rollback() {
  journal_->Close();
  const std::vector<JournalRecord>& records = journal_->Records();
  // A completion mark whose flush failed may still be in the file: it goes before anything
  // is undone, or a rollback cut short would leave a journal that a later run takes for a
  // completed update, and it would delete the backups of the files not put back yet.
  if (Committed(records) && !RewriteWithoutCommitMark(real_.files, journal_->Path(), records, journal_->Key())) {
    return {journal_->Path()};
  }
  RollbackFailures failures = UndoJournalRecords(real_, records, holds_);
  if (!failures.empty()) return failures;
  FlushVolumes(real_.files, records);
  if (real_.files.RemoveFile(journal_->Path())) EndRun(repairDueBefore_);
  holds_.ReleaseAll();
  return failures;
}

bool RepairDue(Registry& registry, const std::string& installDir) {
  const std::optional<RunAnchor> anchor = ReadRunAnchor(registry, installDir);
  // An anchor nobody can trust proves nothing either way; no run can begin under it.
  return !anchor || anchor->repairDue || anchor->HasRun();
}

std::optional<std::string> OutOfScope(const std::vector<JournalRecord>& records, const JournalScope& scope) {
  for (const JournalRecord& record : records) {
    if (!WithinScope(record, scope)) return Describe(record);
  }
  return std::nullopt;
}

namespace {

// The anchored run's journal cannot be used (missing, not its own, cut short): the
// installation may be half updated, which the anchor now says instead of naming the run.
void RunLost(Platform& platform, const std::string& installDir, Recovery& recovery) {
  recovery.kind = Recovery::Kind::Lost;
  RunAnchor anchor;
  anchor.repairDue = true;
  if (!WriteRunAnchor(platform.registry, installDir, anchor)) recovery.failures.push_back(kRunAnchorKey);
}

// What stands at a place the updater's files take and is no file of its own (a directory,
// a link): moved aside, so that it stops no run.
void MoveStrayAside(FileSystem& files, const std::string& path, Recovery& recovery) {
  if (auto aside = MoveAsideUnderOwnName(files, path, kStrayJournalSuffix)) {
    recovery.movedAside.push_back(*aside);
  } else {
    recovery.failures.push_back(path);
  }
}

}  // namespace

Recovery RecoverInterruptedRun(Platform& platform, const std::string& installDir, const JournalScope* scope) {
  Recovery recovery;
  const std::string path = JoinPath(installDir, kJournalFileName);
  if (installDir.empty()) return recovery;
  // The installation is held before its journal is even looked at: a junction put in its
  // place, or in a parent's, would have the recovery read and undo somewhere else.
  std::vector<std::string> roots{installDir};
  if (scope) roots.insert(roots.end(), scope->shortcutFolders.begin(), scope->shortcutFolders.end());
  HeldDirectories holds(platform.files, std::move(roots));
  if (auto refused = holds.HoldDown(installDir)) {
    if (refused->why == DirectoryHold::Missing) return recovery;
    recovery.kind = Recovery::Kind::NotHeld;
    recovery.failures.push_back(refused->directory);
    return recovery;
  }
  FileSystem& files = platform.files;
  // A rewrite of the journal that was cut short.
  const std::string rewrite = path + ".tmp";
  if (files.DirectoryExists(rewrite) || (files.FileExists(rewrite) && files.IsLinked(rewrite))) {
    MoveStrayAside(files, rewrite, recovery);
  } else if (files.FileExists(rewrite)) {
    files.RemoveFile(rewrite);
  }
  if (files.DirectoryExists(path)) MoveStrayAside(files, path, recovery);
  const std::optional<RunAnchor> anchor = ReadRunAnchor(platform.registry, installDir);
  const bool anchored = anchor && anchor->HasRun();
  // Read once, from a handle opened on the file itself, never through a link.
  ProtectedFileRead read;
  if (files.FileExists(path)) {
    read = files.ReadProtectedFile(path);
    if (read.trust == FileTrust::Linked) MoveStrayAside(files, path, recovery);
  }
  if (!files.FileExists(path)) {
    if (anchored) RunLost(platform, installDir, recovery);
    return recovery;
  }
  const std::string& bytes = read.bytes;
  std::optional<std::vector<JournalRecord>> records;
  if (anchored && read.trust != FileTrust::Missing && bytes.find("\r\n") == std::string::npos) {
    // Cut short before its first line ended: the run changed nothing yet. Unless others
    // could have cut it: then nothing says so.
    files.RemoveFile(path);
    if (read.trust == FileTrust::Trusted) {
      EndAnchoredRun(platform, installDir, path, anchor->repairDue);
    } else {
      RunLost(platform, installDir, recovery);
    }
    return recovery;
  }
  if (anchored && read.trust == FileTrust::Missing) {
    // There, but not readable now (another program holds it): kept, for a later run.
    recovery.kind = Recovery::Kind::Incomplete;
    recovery.failures.push_back(path);
    return recovery;
  }
  if (anchored) {
    // The anchor's key decides, whoever the volume says owns the file: a journal whose
    // first record is not the anchored run's is someone else's, and the run's own is lost.
    records = JournalVersionOf(bytes) == kJournalVersion ? ParseJournal(bytes, anchor->key) : std::nullopt;
    if (!records || records->empty() || (*records)[0].path != anchor->tag) {
      SetAside(files, path, recovery);
      RunLost(platform, installDir, recovery);
      return recovery;
    }
  } else {
    // No run is anchored: a journal of this version was not written by one; an older one is
    // trusted for who wrote it.
    const bool current = JournalVersionOf(bytes) == kJournalVersion;
    if (current || read.trust == FileTrust::Linked || read.trust == FileTrust::ExtraName ||
        read.trust == FileTrust::ForeignOwner || read.trust == FileTrust::WritableByOthers) {
      recovery.kind = Recovery::Kind::Untrusted;
      recovery.trust = read.trust;
      recovery.unanchored = current;
      SetAside(files, path, recovery);
      return recovery;
    }
    // A journal cut short before its first line ended announced nothing: nothing was changed.
    if (read.trust == FileTrust::Trusted && bytes.find("\r\n") == std::string::npos) {
      files.RemoveFile(path);
      return recovery;
    }
    if (read.trust == FileTrust::Trusted) records = ParseJournal(bytes);
    if (!records) {
      recovery.kind = Recovery::Kind::Incomplete;
      recovery.failures.push_back(path);
      return recovery;
    }
  }
  // A journal that names anything an update does not own was not written by an update:
  // nothing of it is done, and it is put where no later run takes it up again.
  if (scope) {
    if (auto outside = OutOfScope(*records, *scope)) {
      recovery.kind = Recovery::Kind::SetAside;
      recovery.failures.push_back(*outside);
      SetAside(files, path, recovery);
      if (anchored) WriteRunAnchor(platform.registry, installDir, RunAnchor{{}, {}, true});
      return recovery;
    }
  }
  const bool committed = Committed(*records);
  if (committed) {
    recovery.failures = RemoveBackups(platform, *records, holds);
    const RollbackFailures temporaries = RemoveTemporaryFiles(files, *records, holds);
    recovery.failures.insert(recovery.failures.end(), temporaries.begin(), temporaries.end());
    recovery.kind = recovery.failures.empty() ? Recovery::Kind::Cleaned : Recovery::Kind::NotCleaned;
  } else {
    recovery.failures = UndoJournalRecords(platform, *records, holds);
    recovery.kind = recovery.failures.empty() ? Recovery::Kind::Restored : Recovery::Kind::Incomplete;
  }
  if (!recovery.failures.empty()) return recovery;
  FlushVolumes(files, *records);
  if (!files.RemoveFile(path) || !anchored) return recovery;
  // A journal others could write (a volume without access lists, a share) may have lost its
  // last lines to them: what it undid proves the installation whole only when nobody else
  // could have cut it.
  EndAnchoredRun(platform, installDir, path,
                 !committed && (anchor->repairDue || read.trust != FileTrust::Trusted));
  return recovery;
}

}  // namespace varno
