// The rollback journal of one update run: the undo of every change, written to the disk
// before the change is made, so that a run that fails, is interrupted or is killed can be
// taken back to the installation as it was before.
//
// The file "VarnoMaJ.journal" in the installation directory, version 4. Windows-1252 text,
// one record per line ended by CR LF, fields separated by a tab. Every record line ends with
// two more fields: the run's tag, and a seal (64 upper-case hexadecimal digits: HMAC-SHA256,
// under the run's 32-byte key, of the previous line's seal, or of the first line for the
// first record, followed by the line up to the tab before its seal). Reading stops at the
// first line that fails: a seal that differs, another tag, or a first record that is not
// RUN with the line's tag. The key and the tag are in the run's anchor (run_anchor.h), which
// only administrators can read: a journal is trusted when its seals match its anchor, on any
// volume, whoever the file system says owns it.
//
// The file is made owned by the Administrators group with an access list of its own that
// lets no other account in; a run refuses to begin where that owner cannot be set. In a
// field, "%" followed by two upper-case hexadecimal digits stands for that byte; "%", tab,
// CR, LF and every byte below 0x20 are written that way, every other byte as itself.
//
//   VARNOJOURNAL<TAB>4                       first line: the format and its version
//   RUN<TAB>tag                              the run's own 16 hexadecimal digits, drawn at
//                                            random when the journal begins; they are in
//                                            the names of its temporary files and backups
//   TEMPDIR<TAB>directory                    temporary files of the run are about to be made
//                                            in the directory, named "vrn" + tag + a number
//                                            + ".tmp"; written and flushed before the first
//                                            of them is made
//   NEWFILE<TAB>path                         a file is about to be made where none was
//   SAVED<TAB>path<TAB>backup[<TAB>id]       the file at path was kept as backup (a name
//                                            beside it: path + ".vrnundo-" + tag + "-" + a
//                                            number) before it was replaced or deleted; id,
//                                            when there, is the file's ID as it was moved
//                                            aside (the volume's serial number, 8
//                                            hexadecimal digits, "-", the file's number, 16):
//                                            the backup is deleted only while it is still
//                                            that file
//   MOVED<TAB>from<TAB>to                    a file is about to be renamed
//   NEWDIR<TAB>path                          a directory is about to be made
//   REMOVEDDIR<TAB>path                      an empty directory is about to be removed;
//                                            undone, it is made again. The backups of the
//                                            files removed from it were first moved into its
//                                            parent, each with a SAVED record of its own
//   NEWKEY<TAB>root<TAB>key                  a registry key is about to be made
//   RAWVALUE<TAB>root<TAB>key<TAB>name<TAB>-  a registry value is about to be written or
//   RAWVALUE<TAB>root<TAB>key<TAB>name<TAB>type<TAB>data  deleted: "-" when it was absent,
//                                            otherwise its type (decimal, 0 to 4294967295)
//                                            and its bytes as the registry stores them (a
//                                            string in UTF-16, whatever its length), put
//                                            back as they are
//   CONTROL<TAB>path                         the control at path is about to be replaced;
//                                            undone, it is registered again
//   COMMITTED                                the update is complete: nothing is undone, only
//                                            the backups are left to remove
//
// Version 3 is read too: the same, its seal an 8-digit CRC-32 chained the same way; such a
// journal is acted on only when it is owned by the Administrators group, the system or the
// system's servicing account, no other account may write it, and it has one name and is no
// link. Version 2 is read too, with the same check: the same records without the two last
// fields, every readable line taken. Version 1 is read too: it has neither RUN nor TEMPDIR,
// backups named path + ".vrnundo" + a number, and VALUE records, in the same form as
// RAWVALUE but with the value's bytes as the ANSI functions give them (a string in
// Windows-1252); they are put back through those functions.
//
// Undoing begins with the temporary files: those of every TEMPDIR directory whose names
// carry the run's tag are deleted (a killed process leaves them, and one in a directory the
// run made would keep the directory from being removed). Records are then undone from the
// last to the first. Each undo is idempotent (it looks at what
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
inline constexpr int kJournalVersion = 4;

struct JournalRecord {
  enum class Kind {
    NewFile, Saved, Moved, NewDirectory, NewKey, Value, RawValue, Control, Committed, Run, TempDirectory, RemovedDirectory
  };
  Kind kind = Kind::NewFile;
  std::string path;    // the file, directory, key or control; the source of a move
  std::string second;  // the backup, the destination of a move, the value's name
  RegKey root = 0;
  bool existed = false;  // a value: whether it was there
  uint32_t type = 0;
  std::string data;
  std::optional<FileId> id;  // a backup: the file moved aside
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

// The records of a journal's bytes, a version 4 journal's sealed under key. Nothing when
// they are not a journal of a version this program knows, or of version 4 without a key.
std::optional<std::vector<JournalRecord>> ParseJournal(std::string_view bytes, std::string_view key = {});

// The version a journal's first line names; 0 when it names none this program knows.
int JournalVersionOf(std::string_view bytes);

// A new run's tag (16 hexadecimal digits) and its journal's key (32 bytes), drawn at random.
std::string NewRunTag(FileSystem& files);
std::string NewJournalKey(FileSystem& files);

// The journal of the run under way.
class Journal {
 public:
  // Creates the journal file (there must be none) of the run with this tag, its lines sealed
  // under key, and writes its first line. Nothing when that cannot be done (ownerRefused
  // set when the Administrators group could not be made its owner): the run must not change
  // anything then.
  static std::unique_ptr<Journal> Begin(FileSystem& files, const std::string& path, const std::string& tag,
                                        const std::string& key, bool* ownerRefused = nullptr);

  // Appends a record and flushes it to the disk. False when that failed: the change it
  // announces must not be made.
  bool Append(const JournalRecord& record);

  // Appends a record without waiting for the disk; the change may be made only once
  // Durable() said true. Records announced one after the other (a whole archive's
  // replacements, written before the first is committed) reach the disk in one flush.
  bool Announce(const JournalRecord& record);
  bool Durable();

  // Lets go of the file, so that it can be deleted: Windows refuses to delete a file open
  // without delete sharing. Nothing can be appended afterwards.
  void Close() { file_.reset(); }

  // A name for the backup of the file at path: beside it, carrying the run's tag (so that
  // no file a package brings can bear it), not yet taken.
  std::string BackupNameFor(FileSystem& files, const std::string& path);
  // Whether a file name is one of this run's backups.
  bool IsOwnBackupName(std::string_view name) const;

  // A name for a temporary file beside path, which a recovery will find and delete: the
  // first in its directory announces the directory (flushed). Nothing when that failed.
  std::optional<std::string> TemporaryNameFor(const std::string& path);

  const std::string& Path() const { return path_; }
  // Every record appended, in order, as the file holds them: the commit and the rollback
  // act on these, never on the file read again, which others may have replaced meanwhile.
  const std::vector<JournalRecord>& Records() const { return records_; }
  const std::string& Tag() const { return tag_; }
  const std::string& Key() const { return key_; }

 private:
  Journal(std::unique_ptr<AppendingFile> file, std::string path, std::string tag)
      : file_(std::move(file)), path_(std::move(path)), tag_(std::move(tag)) {}

  std::string Seal(const JournalRecord& record);

  std::unique_ptr<AppendingFile> file_;
  std::string path_;
  std::string tag_;
  std::string key_;
  std::string chain_;  // the last line's checksum
  std::vector<JournalRecord> records_;
  bool failed_ = false;
  int backups_ = 0;
  int temporaries_ = 0;
  std::vector<std::string> temporaryDirectories_;  // announced, upper-case
};

// Whether the text is a run's tag: 16 upper-case hexadecimal digits.
bool IsRunTag(std::string_view text);

// The name pattern ("vrn" + tag + "*.tmp") of a run's temporary files.
std::string TemporaryFileMask(const std::string& tag);

// The journal of a run, rewritten without its completion mark through a temporary file
// beside it. For a run whose mark reached the file but may not have reached the disk,
// before anything of it is undone: a journal that says complete must never be left behind
// a partial rollback.
bool RewriteWithoutCommitMark(FileSystem& files, const std::string& path, const std::vector<JournalRecord>& records,
                              const std::string& key);

}  // namespace varno
