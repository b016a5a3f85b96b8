// Files that only administrators can have written: the journal of an update, which the
// elevated updater acts on and which may lie in a directory ordinary users can write.
#pragma once

#include <string>

#include "platform/files.h"
#include "platform/win32/win32.h"

namespace varno::win32 {

// A new file (CREATE_NEW) owned by the Administrators group, with an access list of its own
// that lets only the Administrators group and the system in, open for appending. The owner
// and access list are set in the same call that creates the file, so no other account can
// open it between its creation and its protection. Invalid when it cannot be made.
UniqueHandle CreateProtectedFile(const std::string& path);

// The file opened without following a link, checked (one name, owner, access list) and,
// when trusted, read whole through that same handle.
ProtectedFileRead ReadProtectedFile(const std::string& path);

// Who can have written the file open on this handle (opened without following a link) and
// the directory that holds it: Trusted only when both are owned by the Administrators group,
// the system or Windows' servicing account and let no other account write, add or delete.
FileTrust TrustOfCode(HANDLE file, const std::string& directory);

// One directory level made with the protection CreateProtectedFile gives a file.
bool MakeProtectedDirectory(const std::string& path);

// Who can change what the directory holds (FileSystem::TrustOfDirectory).
FileTrust TrustOfDirectory(const std::string& path, bool othersMayAdd);

}  // namespace varno::win32
