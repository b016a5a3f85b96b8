#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varno {

// A file open for reading raw bytes.
class InputFile {
 public:
  virtual ~InputFile() = default;

  /// Reads up to size bytes at the current position and moves past them. Returns the number
  /// of bytes read: 0 at the end of the file or on a read error.
  virtual size_t Read(char* buffer, size_t size) = 0;

  /// Moves to an absolute position (past the end is allowed; reads there give 0 bytes).
  virtual bool Seek(uint64_t position) = 0;

  /// The size of the file in bytes.
  virtual uint64_t Size() = 0;
};

// The new content of a file, written to a temporary file beside it. Nothing of it is seen
// at the file's path until Commit; dropped without Commit, the temporary file is removed
// and the file stays exactly as it was.
class OutputFile {
 public:
  virtual ~OutputFile() = default;

  /// Appends bytes. False when they could not all be written (a full disk, say); the
  /// replacement then cannot be committed.
  virtual bool Write(const char* data, size_t size) = 0;

  /// Puts the written bytes in the file's place, creating it or replacing it as a whole.
  /// False when that is refused (a read-only or open file); the file is then unchanged.
  virtual bool Commit() = 0;

  /// Says no more bytes will come: they are handed to the system, buffers are let go, and
  /// their flush may start now, so that many replacements can be written before the first
  /// is committed, each flushing while the next is written. Commit still has the bytes on
  /// the disk before the name. False when a write failed (the replacement cannot commit).
  virtual bool Finish() { return true; }
};

// What a file's protection says of who can have written it (ReadProtectedFile).
enum class FileTrust {
  Trusted,           // owned by the Administrators group, the system or its servicing account
  Missing,           // nothing there, a directory, or nothing that could be opened
  Linked,            // a symbolic link, a junction or another reparse point
  ExtraName,         // a file with more than one name (a hard link), whose bytes another name shows
  // Owned by any other account: a standard user, but also the administrator's own account,
  // which a program of theirs running without elevation holds too.
  ForeignOwner,
  WritableByOthers,  // its access list lets another account write it or change its rights
};

struct ProtectedFileRead {
  FileTrust trust = FileTrust::Missing;
  // The file's bytes whenever it is a file of its own (neither Missing nor Linked), whatever
  // else its trust says, so that a caller that authenticates the bytes some other way can
  // use them.
  std::string bytes;
};

// A file the elevated run is about to run (a library it loads, a control it registers),
// open and held against writers from the check of its bytes to their use.
struct HeldForRunning {
  // Trusted only when the file and its directory can have been written by administrators
  // alone; this program's own account does not count, as a process of the same user that
  // is not elevated could have written as it.
  FileTrust trust = FileTrust::Missing;
  std::unique_ptr<InputFile> file;  // whatever the trust, unless Missing
};

// A file that only grows: each append reaches the disk before Append returns, so what was
// appended survives the process being killed or the machine losing power.
class AppendingFile {
 public:
  virtual ~AppendingFile() = default;

  /// Appends the bytes at the end of the file and flushes them to the disk. False when
  /// they could not all be written and flushed.
  virtual bool Append(std::string_view bytes) = 0;

  /// Appends the bytes without waiting for the disk: their flush may start now or wait for
  /// WaitFlushed, which has every byte appended so far on the disk (one flush for all the
  /// records appended since the last) and is false when a flush failed. A file that cannot
  /// defer its flush flushes at once.
  virtual bool AppendFlushingLater(std::string_view bytes) { return Append(bytes); }
  virtual bool WaitFlushed() { return true; }
};

// One entry of a directory listing: its own name, without its directory.
struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
};

// A directory listing under way, as FindFirstFileA and FindNextFileA walk it; it is closed
// when dropped.
class DirectoryListing {
 public:
  virtual ~DirectoryListing() = default;

  /// The next entry, in the order the directory gives them; nothing once the listing ended.
  virtual std::optional<DirectoryEntry> Next() = 0;
};

// Which file a name leads to: the volume's serial number and the file's number on it. A
// rename keeps it; a file made anew (a replacement included) has another.
struct FileId {
  uint32_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

// A directory held open (HoldDirectory) until this is dropped.
class HeldDirectory {
 public:
  virtual ~HeldDirectory() = default;
};

// What HoldDirectory found at the path.
enum class DirectoryHold {
  Held,
  Missing,  // nothing there, or a file
  Linked,   // a junction, a symbolic link or another reparse point
  Refused,  // it could not be opened so: another program has it open for deletion, say
};

struct HeldDirectoryOpen {
  DirectoryHold status = DirectoryHold::Missing;
  std::unique_ptr<HeldDirectory> held;  // only when Held
};

// The file system, with Windows rules: names compare without regard to case, "\" separates,
// a relative path resolves in the process's current directory.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  /// True when a file (not a directory) exists at the path.
  virtual bool FileExists(const std::string& path) = 0;

  /// True when a directory exists at the path.
  virtual bool DirectoryExists(const std::string& path) = 0;

  /// The whole content of the file, or nothing when it cannot be opened or read.
  std::optional<std::string> ReadWholeFile(const std::string& path);

  /// Opens a file for reading; nothing when it is missing or cannot be opened.
  virtual std::unique_ptr<InputFile> OpenForReading(const std::string& path) = 0;

  /// Opens a file for reading and holds it against writers: while the returned file is
  /// open, others may read the file but not write, replace, rename or delete it. Nothing
  /// when it is missing, cannot be opened, or someone already has it open for writing.
  virtual std::unique_ptr<InputFile> OpenHeldAgainstWriters(const std::string& path) = 0;

  /// Starts the replacement of the file at path (which need not exist yet): a temporary
  /// file in the same directory. Nothing when that cannot be created (a missing or refused
  /// directory).
  virtual std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) = 0;

  /// The same, with the temporary file at the name given (in the target's directory): it is
  /// created anew, never opened if anything (a file, a link) already has that name, and
  /// written through the handle that created it. Lets a caller that must find a killed
  /// run's temporary files again choose names it will recognise.
  virtual std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string& path, const std::string& temporary) = 0;

  /// Gives the file exactly these bytes through a replacement. On false the previous file
  /// is unchanged and no temporary file remains.
  bool ReplaceWholeFile(const std::string& path, std::string_view bytes);

  /// The same through the temporary file path + ".tmp", which a run killed while saving
  /// leaves behind: the next save removes it first (a link there is removed, not followed).
  /// Something there that cannot be removed (a directory, a file held open) is left as it
  /// is, and the save goes through a temporary file of an unpredictable name instead.
  bool ReplaceWholeFileBeside(const std::string& path, std::string_view bytes);

  /// Creates a new file (nothing may be at the path) that only administrators and the
  /// system may write, delete or change the rights of: owned by the Administrators group,
  /// with an access list of its own, nothing inherited from the directory. Appends as
  /// OpenForAppending. Nothing when a file is there or it cannot be created so; when the
  /// reason is that the owner could not be set (a process without the group, a share that
  /// refuses it), *ownerRefused is set. A volume without access lists (FAT32, exFAT) makes
  /// the file without them, silently, as the system does.
  virtual std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string&, bool* ownerRefused) {
    if (ownerRefused) *ownerRefused = false;
    return nullptr;
  }

  /// Reads a whole file and tells whether only an administrator can have written it: the
  /// path's last component opened without following a link (a link is not read); one name;
  /// the file's owner the Administrators group, the system or its servicing account; no
  /// other account allowed to write it or change its rights. The bytes are read from the
  /// handle that was checked, so a file swapped in after the check is never read.
  virtual ProtectedFileRead ReadProtectedFile(const std::string&) { return {}; }

  /// Opens a file without following a link at its name, holding it against writers as
  /// OpenHeldAgainstWriters does, and tells who can have written it: Trusted when it has one
  /// name, is owned by the Administrators group, the system or Windows' servicing account,
  /// and neither it nor its directory lets another account write it, add to it or delete
  /// in it. Missing (and no file) when it cannot be opened so.
  virtual HeldForRunning OpenHeldForRunning(const std::string&) { return {}; }

  /// Who can change what a directory holds, looked at without following a link: Trusted when
  /// it is no link, is owned by the Administrators group, the system, Windows' servicing
  /// account or this program's account, and lets no other account rename, delete or change
  /// it or delete what it holds (nor, unless othersMayAdd, add entries to it). Missing when
  /// no directory is there or it cannot be looked at.
  virtual FileTrust TrustOfDirectory(const std::string&, bool /*othersMayAdd*/) { return FileTrust::Missing; }

  /// Creates one directory level with an access list of its own that lets only the
  /// Administrators group and the system in, nothing inherited. False when anything is
  /// already there, its parent is missing, or it is refused.
  virtual bool MakeProtectedDirectory(const std::string&) { return false; }

  /// Renames a file over another, replacing it as a whole, on the disk when it returns.
  /// False when refused; both files are then unchanged.
  virtual bool MoveFileReplacing(const std::string&, const std::string&) { return false; }

  /// Flushes a file that another service wrote by name (a shortcut the shell saved) to the
  /// disk. False when it cannot be opened or flushed.
  virtual bool FlushFile(const std::string&) { return false; }

  /// Flushes the whole volume that holds the path: every file's bytes and every directory
  /// operation made on it so far are on its disk when this returns. A flush of a file
  /// commits only its own volume's log, so a change spread over volumes needs each one
  /// flushed. False when the system refuses (a share, no rights).
  virtual bool FlushVolume(const std::string&) { return false; }

  /// Moves (renames) a file, or a directory with all below it within its volume. False when
  /// the source is missing, the destination already exists or its directory is missing.
  virtual bool MoveFileTo(const std::string& from, const std::string& to) = 0;

  /// Copies a file over the destination, replacing it when it exists. False when the source
  /// cannot be read or the destination cannot be written; the destination is then unchanged.
  virtual bool CopyFileTo(const std::string& from, const std::string& to);

  /// Deletes a file. False when it is missing, read-only or in use.
  virtual bool RemoveFile(const std::string& path) = 0;

  /// Opens a file for appending, creating it when missing. Nothing when that is refused.
  virtual std::unique_ptr<AppendingFile> OpenForAppending(const std::string& path) = 0;

  /// Removes an empty directory. False when it is missing, not empty or refused.
  virtual bool RemoveEmptyDirectory(const std::string& path) = 0;

  /// Has the system delete the file when the machine next starts, for a file that cannot be
  /// deleted now (in use). False when the system refuses.
  virtual bool RemoveAtRestart(const std::string& path) = 0;

  /// A number nobody can guess beforehand, for names an attacker must not be able to plant
  /// in advance.
  virtual uint64_t UnpredictableNumber() = 0;

  /// The bytes free for the caller on the volume of the directory; nothing when the system
  /// cannot tell.
  virtual std::optional<uint64_t> FreeBytes(const std::string& directory) = 0;

  /// True when the file exists and could be replaced now: it is not read-only, and no
  /// program holds it open in a way that refuses writers.
  virtual bool CanReplace(const std::string& path) = 0;

  /// Creates one directory level. False when it exists already or its parent is missing.
  virtual bool MakeDirectory(const std::string& path) = 0;

  /// True when the path itself (not what it leads to) is a link: a symbolic link, a
  /// junction or any other reparse point, or a file with more than one name (a hard link),
  /// whose bytes another name shows too. False when nothing is there.
  virtual bool IsLinked(const std::string& path) = 0;

  /// Opens one directory without following a reparse point at its own name and holds it
  /// until the result is dropped: while held, it cannot be renamed or removed (it is open
  /// without delete sharing), so a path through it keeps leading to it. Linked when the
  /// path itself is a junction or another reparse point. The directories above it are
  /// followed: a caller that needs them plain holds them first, from the drive's root down.
  virtual HeldDirectoryOpen HoldDirectory(const std::string&) { return {DirectoryHold::Refused, nullptr}; }

  /// Creates one directory level and holds it as HoldDirectory does, in one step: at no
  /// moment is the new, empty directory there unheld, so a user who may write its parent
  /// cannot make it a mount point before the hold (Windows lets them on an empty directory,
  /// held or not, so it is the names below it, reached through the hold, that stay safe).
  /// Missing when its parent is missing; Refused when anything is already at the path or
  /// the creation is refused. A backend that cannot do it in one step makes, then holds.
  virtual HeldDirectoryOpen MakeHeldDirectory(const std::string& path);

  /// The ID of the file at the path, opened without following a link at its own name.
  /// Nothing when no file is there (a directory, nothing) or it cannot be opened.
  virtual std::optional<FileId> FileIdOf(const std::string&) { return std::nullopt; }

  /// Deletes the file at the path only while it is the file with this ID: it is opened
  /// without following a link, its ID compared, and deleted through that same handle, so
  /// that no name swapped in meanwhile is deleted. False when it is missing, another file,
  /// read-only or in use.
  virtual bool RemoveFileIfSame(const std::string&, const FileId&) { return false; }

  /// The entries of a directory whose names match a pattern: the directory's path, "\",
  /// then a mask in which "*" stands for any run of characters and "?" for exactly one,
  /// other characters comparing without regard to case (MatchesWildcard). Files and
  /// directories alike, "." and ".." never. A missing directory or no match gives a listing
  /// that ends at once. The order is the directory's own: sorted on NTFS, not under Wine.
  virtual std::unique_ptr<DirectoryListing> ListMatching(const std::string& pattern) = 0;
};

// Copies the whole of source into destination and commits it; false when a read falls
// short or a write or the commit fails (the destination's target is then unchanged).
bool CopyAndCommit(InputFile& source, OutputFile& destination);

// Whether a path below base reaches its file through a link: a directory between base and
// the file's own name that is a symbolic link, a junction or another reparse point, which
// would have a change meant for base's tree land wherever the link points. False for a path
// that is not below base (its own rules hold there).
bool PassesThroughLink(FileSystem& files, const std::string& base, const std::string& path);

// Whether an entry name matches the mask of a listing pattern. Once the name is used up, a
// rest of the mask made of "." and "*" still matches, as Windows lets "*.*" list names
// without an extension.
bool MatchesWildcard(std::string_view name, std::string_view mask);

// A listing pattern split before its last component: the directory (its separator or a
// drive's colon included, so "C:*.lnk" lists the current directory of C; empty when the
// pattern has neither) and the mask.
struct ListingPattern {
  std::string directory;
  std::string mask;
};
ListingPattern SplitListingPattern(std::string_view pattern);

// A listing read whole when it is made: what changes in the directory afterwards does not
// show in it. For backends that cannot walk a directory lazily.
class SnapshotListing : public DirectoryListing {
 public:
  void Add(DirectoryEntry entry) { entries_.push_back(std::move(entry)); }
  std::optional<DirectoryEntry> Next() override {
    if (next_ == entries_.size()) return std::nullopt;
    return entries_[next_++];
  }

 private:
  std::vector<DirectoryEntry> entries_;
  size_t next_ = 0;
};

}  // namespace varno
