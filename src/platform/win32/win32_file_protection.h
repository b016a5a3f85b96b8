// Files that only administrators can have written: the journal of an update, which the
// elevated updater acts on and which may lie in a directory ordinary users can write.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/win32.h"

namespace varno::win32 {

class HeldNames;

// A new file (CREATE_NEW) owned by the Administrators group, with an access list of its own
// that lets only the Administrators group and the system in, open for appending. The owner
// and access list are set in the same call that creates the file, so no other account can
// open it between its creation and its protection. Invalid when it cannot be made.
// *ownerRefused set when the Administrators group could not be made the owner (a token
// without it, a share that refuses it): no file is then made with another owner.
// Made relative to its held directory when it lies in one.
UniqueHandle CreateProtectedFile(const std::string& path, bool* ownerRefused, const HeldNames& names);

struct TrustedAccounts;

// A security descriptor for what only administrators may read and change: owner the
// Administrators group, an access list of its own that lets only it and the system in.
class ProtectedDescriptor {
 public:
  // allAccess: every right on the kind of object it protects (FILE_ALL_ACCESS, KEY_ALL_ACCESS).
  explicit ProtectedDescriptor(DWORD allAccess);
  ~ProtectedDescriptor();
  ProtectedDescriptor(const ProtectedDescriptor&) = delete;
  ProtectedDescriptor& operator=(const ProtectedDescriptor&) = delete;
  bool Valid() const { return valid_; }
  PSECURITY_DESCRIPTOR Get() { return &descriptor_; }

 private:
  bool Make(DWORD allAccess);
  std::unique_ptr<TrustedAccounts> trusted_;
  std::vector<BYTE> aclBytes_;
  SECURITY_DESCRIPTOR descriptor_{};
  bool valid_ = false;
};

// Whether an owner and an access list leave an object to administrators and the system
// alone: the owner one of them, and no other account allowed to change it (with
// readingCounts, to read it either). A missing access list lets everyone in.
bool TrustedOwnerAndAccess(PSID owner, PACL dacl, bool readingCounts);

// The file opened without following a link, checked (one name, owner, access list) and,
// when trusted, read whole through that same handle.
ProtectedFileRead ReadProtectedFile(const std::string& path, const HeldNames& names);

// Who can have written the file open on this handle (opened without following a link) and
// the directory that holds it: Trusted only when both are owned by the Administrators group,
// the system or Windows' servicing account and let no other account write, add or delete.
FileTrust TrustOfCode(HANDLE file, const std::string& directory);

// One directory level made with the protection CreateProtectedFile gives a file.
bool MakeProtectedDirectory(const std::string& path);

// Who can change what the directory holds (FileSystem::TrustOfDirectory).
FileTrust TrustOfDirectory(const std::string& path, bool othersMayAdd);

}  // namespace varno::win32
