// An in-memory disk with the Windows rules the updater meets: case-insensitive names, "\"
// separators, drive roots, relative paths resolved in the current directory, read-only and
// in-use files, and faults injected on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/ansi_text.h"
#include "platform/files.h"

namespace varno::fake {

class MemoryFileSystem : public FileSystem {
 public:
  MemoryFileSystem();

  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<InputFile> OpenHeldAgainstWriters(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string& path, const std::string& temporary) override;
  bool RemoveAtRestart(const std::string& path) override;
  // A fixed sequence that looks random, so that runs repeat exactly.
  uint64_t UnpredictableNumber() override;
  bool MoveFileTo(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  std::unique_ptr<AppendingFile> OpenForAppending(const std::string& path) override;
  std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string& path, bool* ownerRefused) override;
  ProtectedFileRead ReadProtectedFile(const std::string& path) override;
  HeldForRunning OpenHeldForRunning(const std::string& path) override;
  FileTrust TrustOfDirectory(const std::string& path, bool othersMayAdd) override;
  bool MakeProtectedDirectory(const std::string& path) override { return MakeDirectory(path); }
  bool MoveFileReplacing(const std::string& from, const std::string& to) override;
  bool FlushFile(const std::string& path) override;
  bool FlushVolume(const std::string& path) override;
  bool RemoveEmptyDirectory(const std::string& path) override;
  bool CanReplace(const std::string& path) override;
  bool IsLinked(const std::string& path) override;
  std::optional<uint64_t> FreeBytes(const std::string&) override { return freeSpace_; }
  // Sorted on the upper-case names, as NTFS lists them.
  std::unique_ptr<DirectoryListing> ListMatching(const std::string& pattern) override;
  HeldDirectoryOpen HoldDirectory(const std::string& path) override;
  HeldDirectoryOpen MakeHeldDirectory(const std::string& path) override;
  std::optional<FileId> FileIdOf(const std::string& path) override;
  bool RemoveFileIfSame(const std::string& path, const FileId& id) override;

  // Windows' own attacks on a run, as a standard user who can write some directories
  // would make them.
  //
  // Every call of the program into this disk (each FileSystem method, each commit of a
  // replacement) counts as one operation, numbered from 1; before each, this runs with its
  // number, so that a test can put an attacker's step between any two of the program's.
  std::function<void(int)> beforeEachOperation;
  int operations = 0;
  // The directory's access list lets standard users add, delete and rename its entries (a
  // folder made in "C:\", an installation shared with its users).
  void LetStandardUsersChange(const std::string& directory);
  // A standard user renames the directory away (to its name + ".avant") and puts a junction
  // to target in its place: every path through it then leads into target. Refused, as
  // Windows refuses it, when its parent does not let standard users change it, or when it or
  // anything below it is open (a held directory, a held file).
  bool SwapForJunction(const std::string& directory, const std::string& target);
  // Whether the program holds the directory (HoldDirectory).
  bool DirectoryHeld(const std::string& path) const;
  // A standard user allowed to change the directory's attributes (it, or a level above whose
  // access list it inherits, lets standard users change it) makes it a mount point to target. Windows allows it on
  // an empty directory only, but even while another handle holds it: the hold refuses its
  // renaming and removal, not a reparse point. Every path through it then leads into target,
  // except what the program reaches relative to its held handle.
  bool MakeMountPoint(const std::string& directory, const std::string& target);

  // Writes a file in place by name, as a program that saves without flushing does (the
  // shell saving a shortcut): the bytes and the file's creation wait for a later flush.
  // False when the directory is missing or refused, or the file is read-only or in use.
  bool WriteInPlace(const std::string& path, std::string_view bytes);

  // Set-up for tests; these create whatever parents are missing.
  void AddDirectory(const std::string& path);
  void AddFile(const std::string& path, std::string_view bytes);
  void SetReadOnly(const std::string& path, bool readOnly = true);
  void SetInUse(const std::string& path, bool inUse = true);
  // The file or directory is a link (symbolic, a junction, or one of a file's several
  // names); replacing the file puts a plain one in its place, as a rename over a link does.
  void SetLinked(const std::string& path);
  // Who owns a file, and whether its access list lets other accounts write it. Whatever the
  // program makes is the Administrators group's (an elevated token's default owner), writable
  // by no one else. A standard user's file is theirs and writable by them. ThisAccount is the
  // administrator's own user account: what their programs make when they run without
  // elevation.
  enum class Owner { ThisAccount, Administrators, System, StandardUser };
  void SetOwner(const std::string& path, Owner owner, bool othersMayWrite);
  // A file put there by a standard user who can write the directory: theirs, as they wrote it.
  void PlantAsStandardUser(const std::string& path, std::string_view bytes) {
    AddFile(path, bytes);
    SetOwner(path, Owner::StandardUser, true);
  }
  // A file put there by a program of the administrator that runs without elevation.
  void PlantAsSameAccountUnelevated(const std::string& path, std::string_view bytes) {
    AddFile(path, bytes);
    SetOwner(path, Owner::ThisAccount, false);
  }
  // The file got a second name elsewhere (a hard link): its bytes show under both.
  void AddExtraName(const std::string& path);
  // What a volume ("C:", "\\server\share") keeps of a file's protection. NoAccessLists
  // (FAT32, exFAT): owner and access list silently dropped, everyone may write everything.
  // Share: the server records another account as the owner of what the program makes (it
  // sees the system as the machine's account). ShareRefusingOwner: the server refuses the
  // Administrators group as an owner, so a protected file cannot be made.
  enum class VolumeKind { Ntfs, NoAccessLists, Share, ShareRefusingOwner };
  void SetVolumeKind(const std::string& volume, VolumeKind kind) { volumeKinds_[AnsiUpperCase(volume)] = kind; }
  void SetCurrentDirectory(const std::string& path);
  // Moves a directory and all below it to another path, open files or not, as repointing
  // a junction on the way to it does on Windows.
  void MoveTree(const std::string& from, const std::string& to);
  const std::string& CurrentDirectory() const { return currentDirectory_; }

  // The names of a directory's entries, in the order of their upper-case names.
  std::vector<std::string> List(const std::string& directory) const;

  // Whether the program holds the file against writers (OpenHeldAgainstWriters).
  bool HeldAgainstWriters(const std::string& path) const;

  // The content of a file, or nothing; never counts as an access of the program.
  std::optional<std::string> Content(const std::string& path) const;

  // Faults. A refused directory takes no new or replaced file below it; the Nth file
  // written from now (1 = the next one) fails once at its commit; with a capacity, the
  // write that goes beyond it fails (the disk is full).
  void RefuseWritesUnder(const std::string& directory);
  void FailNthWrite(int n) { failAtWrite_ = writes_ + n; }
  void SetFreeSpace(std::optional<uint64_t> bytes) { freeSpace_ = bytes; }
  // The disk fills while the next file whose name ends with this text is written: its
  // replacement takes this many bytes, and its next write fails. Once.
  void FillDiskWhileWriting(const std::string& nameEnd, uint64_t bytesThatFit) {
    fillWhile_ = AnsiUpperCase(nameEnd);
    fillAfter_ = bytesThatFit;
  }
  std::optional<uint64_t> FreeSpace() const { return freeSpace_; }

  // What survives the end of the process that used this disk: everything, its open handles
  // closed (a file it held is free again).
  MemoryFileSystem AfterProcessDeath() const;

  // What survives a power cut now, on NTFS:
  // - a file's bytes reach the disk only when they are flushed (an append of the journal,
  //   the wait for a flush started in the background, the commit of a replacement, a flush
  //   of its volume); a file keeps the bytes of its last flush, none when it was never
  //   flushed;
  // - each volume ("C:", "D:", a share) keeps a log of its own: its directory operations
  //   (creating, renaming, deleting files and directories) reach its disk in their order,
  //   and every one made before a flush of a file on that volume (or of the volume) is
  //   there after it, but any tail of those made since that volume's last flush may be
  //   lost. A flush on one volume makes nothing of another durable.
  // Likely: every directory operation survives, unflushed bytes are lost. Worst: the
  // directory operations since the volume's last flush are lost too. The cut may differ
  // from volume to volume ("D:" worst, the others likely).
  enum class PowerCut { Likely, Worst };
  MemoryFileSystem AfterPowerCut(PowerCut cut) const;
  MemoryFileSystem AfterPowerCut(const std::map<std::string, PowerCut>& volumes, PowerCut others) const;

  // The volumes flushed as a whole, in order ("C:").
  std::vector<std::string> volumeFlushes;

  // Files the program asked the system to delete at the next start, in order.
  std::vector<std::string> removalsAtRestart;
  bool refuseRemovalAtRestart = false;

  // The full path as Windows would make it ("C:\Dir\name"), or empty when malformed.
  std::string FullPath(const std::string& path) const;

  // Every directory and file, one per line, for failure messages.
  std::string Dump() const;

 private:
  struct Node {
    std::string path;  // as first created, with its case
    bool isDirectory = false;
    std::string data;
    bool readOnly = false;
    bool inUse = false;
    bool linked = false;
    bool extraName = false;
    Owner owner = Owner::Administrators;
    bool othersMayWrite = false;
    int heldAgainstWriters = 0;  // open holders that refuse writers
    std::string durable;         // the bytes as last flushed to the disk
    uint64_t id = 0;             // the file's number (FileIdOf), given when first asked; a rename keeps it
    int heldDirectory = 0;       // open HoldDirectory holders
    std::string junctionTo;      // a junction: the full path it leads to
  };

  friend class MemoryOutputFile;
  friend class MemoryAppendingFile;
  friend class HeldMemoryInputFile;
  friend class MemoryHeldDirectory;

  // The full path with every junction on the way to its last component followed, as
  // Windows follows them; the last component itself is not.
  std::string Real(const std::string& path) const;
  // Where the program's change of a path lands: when the path's directory is one the
  // program holds, in that very directory, as Windows opens a name relative to the held
  // handle, whatever junction or mount point now stands on the way to it; otherwise as
  // Real.
  std::string Reach(const std::string& path) const;
  // The node at a path already resolved (Real, Reach), without resolving it again: a mount
  // point put since on one of its directories is not followed.
  Node* At(const std::string& real);
  const Node* At(const std::string& real) const;
  std::vector<const Node*> ChildrenAt(const std::string& real) const;
  // One operation of the program: the attacker's step, if any, runs first.
  void Step();

  Node* Find(const std::string& path);
  const Node* Find(const std::string& path) const;
  bool ParentIsDirectory(const std::string& fullPath) const;
  bool Refused(const std::string& fullPath) const;
  bool Allocate(size_t bytes);
  // Whether a write that brings the replacement of target to this size finds the disk full.
  bool DiskFillsAt(const std::string& target, uint64_t size);
  void Release(size_t bytes);
  bool Commit(const std::string& temporary, const std::string& target);
  void Discard(const std::string& temporary);
  // A flush: the file's bytes are on the disk, and so is every directory operation so far
  // on its volume.
  void Flushed(Node& node);
  static std::string VolumeOf(const std::string& key);
  void SnapshotVolume(const std::string& volume);

  // The key of a path's node: its full path in capitals, so that a name matches in any case.
  std::string KeyOf(const std::string& path) const;
  std::vector<const Node*> Children(const std::string& directory) const;

  std::map<std::string, Node> nodes_;
  // The directories the program holds, by the full path it named them with (folded, no
  // trailing "\"): where each is, and how many holds it has.
  struct HeldName {
    std::string real;
    int holds = 0;
  };
  std::map<std::string, HeldName> heldByName_;
  std::map<std::string, Node> atLastFlush_;  // each volume's nodes as its last flush left them
  uint64_t unpredictable_ = 0;
  std::string currentDirectory_ = "C:\\";
  std::map<std::string, bool> refusedDirectories_;
  int writes_ = 0;
  int failAtWrite_ = 0;
  int temporaries_ = 0;
  uint64_t lastFileId_ = 0;
  bool inStep_ = false;
  std::string fillWhile_;
  uint64_t fillAfter_ = 0;
  std::optional<uint64_t> freeSpace_;
  std::map<std::string, VolumeKind> volumeKinds_;
  VolumeKind KindOfVolume(const std::string& path) const;
};

}  // namespace varno::fake
