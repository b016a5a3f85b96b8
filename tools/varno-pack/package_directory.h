// The directory operations a whole package needs and the updater's file service does not
// offer: a package is written into a directory of its own beside its destination and put in
// place by one rename, so a failed build leaves nothing at the destination.
#pragma once

#include <string>
#include <vector>

namespace varno::pack {

// The paths are Windows paths as HostDisk gives them.
bool RenameDirectory(const std::string& from, const std::string& to);
// Removes an empty directory.
bool RemoveEmptyDirectory(const std::string& path);

// The entries below root whose names the host holds in a form Windows-1252 cannot write (on
// Linux, names whose UTF-8 has no Windows-1252 character), as paths relative to root in the
// host's text; the file service passes them over, so they are looked for apart. None on
// Windows, where an ANSI listing shows such characters as "?", which no name may hold.
std::vector<std::string> UnwritableNames(const std::string& root);

}  // namespace varno::pack
