// The rollback journal of one update run: the undo of every change, written to the disk
// before the change is made, so that a run that fails, is interrupted or is killed can be
// taken back to the installation as it was before.
//
// The file "VarnoMaJ.journal" in the installation directory, version 1. Windows-1252 text,
// one record per line ended by CR LF, fields separated by a tab. In a field, "%" followed by
// two upper-case hexadecimal digits stands for that byte; "%", tab, CR, LF and every byte
// below 0x20 are written that way, every other byte as itself.
//
//   VARNOJOURNAL<TAB>1                       first line: the format and its version
//   NEWFILE<TAB>path                         a file is about to be made where none was
//   SAVED<TAB>path<TAB>backup                the file at path was kept as backup (a name
//                                            beside it) before it was replaced or deleted
//   MOVED<TAB>from<TAB>to                    a file is about to be renamed
//   NEWDIR<TAB>path                          a directory is about to be made
//   REMOVEDDIR<TAB>path                      an empty directory is about to be removed;
//                                            undone, it is made again. The backups of the
//                                            files removed from it were first moved into its
//                                            parent, each with a SAVED record of its own
//   NEWKEY<TAB>root<TAB>key                  a registry key is about to be made
//   VALUE<TAB>root<TAB>key<TAB>name<TAB>-    a registry value is about to be written or
//   VALUE<TAB>root<TAB>key<TAB>name<TAB>type<TAB>data    deleted: "-" when it was absent,
//                                            otherwise its type (decimal) and its data
//   CONTROL<TAB>path                         the control at path is about to be replaced;
//                                            undone, it is registered again
//   COMMITTED                                the update is complete: nothing is undone, only
//                                            the backups are left to remove
//
// Records are undone from the last to the first. Each undo is idempotent (it looks at what
// is on the disk before it acts), so a rollback that is itself interrupted is simply
// started again. A record whose line is cut short (the process died while writing it) was
// never followed by its change and is ignored. A record may announce a change that was then
// never made (a replacement is announced when it is begun, and may fail before its commit):
// its undo finds nothing to do.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"

namespace varno {

inline constexpr char kJournalFileName[] = "VarnoMaJ.journal";
inline constexpr int kJournalVersion = 1;

struct JournalRecord {
  enum class Kind { NewFile, Saved, Moved, NewDirectory, NewKey, Value, Control, Committed, RemovedDirectory };
  Kind kind = Kind::NewFile;
  std::string path;    // the file, directory, key or control; the source of a move
  std::string second;  // the backup, the destination of a move, the value's name
  RegKey root = 0;
  bool existed = false;  // a value: whether it was there
  uint32_t type = 0;
  std::string data;
};

inline JournalRecord MakeRecord(JournalRecord::Kind kind, std::string path = {}, std::string second = {},
                                RegKey root = 0) {
  JournalRecord record;
  record.kind = kind;
  record.path = std::move(path);
  record.second = std::move(second);
  record.root = root;
  return record;
}

std::string EncodeJournalRecord(const JournalRecord& record);
// Nothing when the line is not a whole, known record.
std::optional<JournalRecord> DecodeJournalRecord(const std::string& line);

// The records of a journal file. Nothing when the file is missing or not a journal of a
// version this program knows.
std::optional<std::vector<JournalRecord>> ReadJournal(FileSystem& files, const std::string& path);
// The same, from the file's bytes.
std::optional<std::vector<JournalRecord>> ParseJournal(std::string_view bytes);

// Whether a file name is one Journal::BackupNameFor gives (a name, ".vrnundo", digits).
bool IsBackupName(std::string_view name);

// The journal of the run under way.
class Journal {
 public:
  // Creates the journal file (there must be none) and writes its first line. Nothing when
  // that cannot be done: the run must not change anything then.
  static std::unique_ptr<Journal> Begin(FileSystem& files, const std::string& path);

  // Appends a record and flushes it to the disk. False when that failed: the change it
  // announces must not be made.
  bool Append(const JournalRecord& record);

  // Appends a record and starts its flush without waiting for it, so that the disk writes
  // it while the caller prepares the change; the change may be made only once Durable()
  // said true.
  bool Announce(const JournalRecord& record);
  bool Durable();

  // Lets go of the file, so that it can be deleted: Windows refuses to delete a file open
  // without delete sharing. Nothing can be appended afterwards.
  void Close() { file_.reset(); }

  // A name for the backup of the file at path: beside it, not yet taken.
  std::string BackupNameFor(FileSystem& files, const std::string& path);

  const std::string& Path() const { return path_; }


 private:
  Journal(std::unique_ptr<AppendingFile> file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}

  std::unique_ptr<AppendingFile> file_;
  std::string path_;
  int backups_ = 0;
};

}  // namespace varno
