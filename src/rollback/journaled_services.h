// Layers over the file, registry, shell and library services that write the undo of every
// change into the run's journal before they make it. The steps run on them unchanged and
// know nothing of rollback; whatever a future step changes through them is covered too.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/forwarding_files.h"
#include "platform/held_directories.h"
#include "platform/libraries.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "rollback/changed_keys.h"
#include "rollback/journal.h"

namespace varno {

// A replaced or removed file is first moved aside under a backup name in its own directory
// (a rename, which costs nothing whatever its size); a new file or directory is announced
// before it is made. When the change itself then fails, the backup is put back at once.
//
// Below each of the holds' roots (the installation, the shortcut folders), a change is made
// only once every directory from the drive's root to its own is held: a directory that a user
// who can write there turned into a junction, before or during the run, would have the
// elevated run write, move or delete in its target instead.
class JournaledFiles : public ForwardingFiles {
 public:
  JournaledFiles(FileSystem& inner, Journal& journal, HeldDirectories& holds)
      : ForwardingFiles(inner), journal_(journal), holds_(holds) {}

  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override;
  // A temporary file of the caller's naming would escape the sweep of a killed run's
  // temporary files: refused.
  std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string&, const std::string&) override {
    return nullptr;
  }
  bool MoveFileTo(const std::string& from, const std::string& to) override;
  // Through this layer's own replacement, so that the destination is kept.
  bool CopyFileTo(const std::string& from, const std::string& to) override { return FileSystem::CopyFileTo(from, to); }
  bool RemoveFile(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  // A directory made past the journal would escape the undo: refused.
  HeldDirectoryOpen MakeHeldDirectory(const std::string&) override { return {DirectoryHold::Refused, nullptr}; }
  // A directory that holds nothing but the backups of files this run removed counts as
  // empty: the backups move into its parent, then its removal is announced and made.
  bool RemoveEmptyDirectory(const std::string& path) override;
  std::unique_ptr<AppendingFile> OpenForAppending(const std::string& path) override;

  // Moves the file at path aside after announcing it with its ID; false (and nothing moved)
  // when either is refused.
  bool MoveAside(const std::string& path, std::string* backup);

  // Holds every directory down to the path's own, when the path lies below a root; false
  // when one is missing, a link, or cannot be held.
  bool Holds(const std::string& path) { return holds_.HoldDirectoryOf(path) == DirectoryHold::Held; }

 private:
  Journal& journal_;
  HeldDirectories& holds_;
};

// Registry keys are followed by their names, so that the value a write or a deletion will
// change can be read and written into the journal first, exactly as stored, and the keys a
// creation makes are announced level by level. The keys changed are kept for the commit to
// flush.
class JournaledRegistry : public Registry {
 public:
  JournaledRegistry(Registry& inner, Journal& journal) : inner_(inner), journal_(journal) {}

  long OpenKey(RegKey parent, const std::string& path, uint32_t access, bool create, RegKey* key) override;
  void CloseKey(RegKey key) override;
  long QueryValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) override {
    return inner_.QueryValue(key, name, type, data);
  }
  long SetValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) override;
  long DeleteValue(RegKey key, const std::string& name) override;
  // Only the rights test deletes keys, and it runs before anything is journaled.
  long DeleteSubKey(RegKey key, const std::string& name) override { return inner_.DeleteSubKey(key, name); }
  long SubKeyName(RegKey key, uint32_t index, std::string* name) override { return inner_.SubKeyName(key, index, name); }
  long QueryRawValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) override {
    return inner_.QueryRawValue(key, name, type, data);
  }
  long SetRawValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) override;
  long FlushKey(RegKey key) override { return inner_.FlushKey(key); }
  long OpenAdministratorsKey(const std::string& path, bool create, RegKey* key) override {
    return inner_.OpenAdministratorsKey(path, create, key);
  }

  // Flushes every key the run changed; the keys that could not be.
  std::vector<std::string> FlushChangedKeys() { return changed_.Flush(inner_); }

 private:
  long RecordValue(RegKey key, const std::string& name);

  Registry& inner_;
  Journal& journal_;
  std::map<RegKey, std::pair<RegKey, std::string>> names_;  // open key -> root and path
  ChangedKeys changed_;
};

// A shortcut saved over an existing one keeps a copy of it first (links are small, and the
// save may fail after the old file is gone).
class JournaledShell : public Shell {
 public:
  JournaledShell(Shell& inner, FileSystem& files, JournaledFiles& journaledFiles, Journal& journal)
      : inner_(inner), files_(files), journaledFiles_(journaledFiles), journal_(journal) {}
  std::string SpecialFolderPath(int csidl) override { return inner_.SpecialFolderPath(csidl); }
  LinkSave SaveShellLink(const ShellLinkFields& link, const std::string& linkPath) override;

 private:
  bool CopyToBackup(const std::string& path, const std::string& backup);
  Shell& inner_;
  FileSystem& files_;  // not journaled: the copy is the backup
  JournaledFiles& journaledFiles_;  // for its rule on links
  Journal& journal_;
};

// A COM server's self-registration is announced with the library's path, so that a
// rollback registers again whatever control is back at that path.
class JournaledLibraries : public Libraries {
 public:
  JournaledLibraries(Libraries& inner, Journal& journal) : inner_(inner), journal_(journal) {}
  LibraryHandle Load(const std::string& path) override;
  std::optional<uint32_t> CallExport(LibraryHandle library, const std::string& name) override;
  void Free(LibraryHandle library) override;

 private:
  Libraries& inner_;
  Journal& journal_;
  std::map<LibraryHandle, std::string> paths_;
};

}  // namespace varno
