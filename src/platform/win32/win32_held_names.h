// Names opened relative to the directories this process holds. A held directory cannot be
// renamed or removed, but a path through it is still looked up again, level by level, at
// each call that takes a path: and Windows lets anyone who may change an empty directory's
// attributes make it a mount point while it is held. An open relative to the held handle
// (OBJECT_ATTRIBUTES.RootDirectory) starts inside the directory that was checked and held,
// so no junction or mount point put on the way since is followed.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/win32/win32.h"

namespace varno::win32 {

// What CreateFileA is asked, for the same open made relative to a held directory.
struct OpenRequest {
  DWORD access = 0;
  DWORD share = 0;
  DWORD disposition = OPEN_EXISTING;
  DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL;
  PSECURITY_DESCRIPTOR security = nullptr;
  bool directoryOnly = false;  // only a directory is opened (with FILE_FLAG_BACKUP_SEMANTICS)
};

// The held directory a path lies directly in, and the path's name in it.
struct HeldParent {
  HANDLE directory = nullptr;
  std::string name;
};

// The directories held by this process, by full path, and the ntdll calls that act relative
// to them (looked up at run time: the program imports no ntdll function, and they have been
// there since Windows NT). Used by the thread that uses the file service.
class HeldNames {
 public:
  HeldNames();

  void Add(const std::string& path, HANDLE directory);
  void Remove(const std::string& path, HANDLE directory);

  // The held directory the path lies directly in; none when it is not held, when the path
  // is no plain drive or share path, or when relative opens are not available.
  std::optional<HeldParent> ParentOf(const std::string& path) const;

  // The attributes of what is at the path, as GetFileAttributesA gives them (a link's own),
  // looked up in its held directory when it lies in one; INVALID_FILE_ATTRIBUTES when
  // nothing is there.
  DWORD Attributes(const std::string& path) const;

  // Opens the path as CreateFileA would, relative to its held directory when it lies in
  // one. Invalid, with the last error set, when refused.
  UniqueHandle Open(const std::string& path, const OpenRequest& request) const;

  // Creates one directory level and, with hold, gives back a handle that holds it as
  // HoldDirectory does (listing access, no delete sharing, the new directory itself even
  // should it have become a reparse point); made relative to its held parent when it has
  // one, else by its full name, in one call either way. Invalid, with the last error set,
  // when refused.
  UniqueHandle MakeDirectory(const std::string& path, bool hold) const;

  // Renames the file or directory open on the handle (opened with DELETE access) to the
  // path, relative to its held directory when it has one. False, with the last error set,
  // when refused.
  bool Rename(HANDLE file, const std::string& to, bool replace) const;

  // Whether the calls are there (ntdll found); without them every path is looked up whole.
  bool Available() const { return createFile_ && setInformation_ && statusToError_; }

 private:
  using CreateFileCall = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, void*, void*, LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG,
                                       void*, ULONG);
  using SetInformationCall = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, ULONG);
  using StatusToErrorCall = ULONG(WINAPI*)(LONG);

  UniqueHandle CreateBelow(HANDLE root, const std::string& name, ACCESS_MASK access, ULONG attributes, ULONG share,
                           ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR security) const;
  // The NT name of a full path ("\??\C:\..." or "\??\UNC\server\share\..."); empty when it
  // has another form.
  static std::string NtNameOf(const std::string& path);
  void Fail(LONG status) const;

  CreateFileCall createFile_ = nullptr;
  SetInformationCall setInformation_ = nullptr;
  StatusToErrorCall statusToError_ = nullptr;
  using QueryInformationCall = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, ULONG);
  QueryInformationCall queryInformation_ = nullptr;
  std::multimap<std::string, HANDLE> held_;  // by the full path's upper-case key
};

// Marks the open file or directory for deletion when its last handle closes, as DeleteFileA
// and RemoveDirectoryA do once they have opened it: through the handle, no other file can be
// the one deleted. False, with the last error set, when refused (read-only, not empty).
bool DeleteThroughHandle(HANDLE file);

}  // namespace varno::win32
