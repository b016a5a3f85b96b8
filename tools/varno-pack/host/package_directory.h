// The directory operations a whole package needs and the updater's file service does not
// offer: a package is written into a directory of its own beside its destination and put in
// place by one rename, so a failed build leaves nothing at the destination.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace varno::pack {

// The paths are Windows paths as HostDisk gives them.
bool RenameDirectory(const std::string& from, const std::string& to);
// Removes an empty directory.
bool RemoveEmptyDirectory(const std::string& path);

// The place a path really names: every link of its part that exists followed (on Linux;
// the path made absolute on Windows), the part that does not exist yet kept as written.
// A Windows path as HostDisk gives them; the path itself when it cannot be resolved.
std::string RealPlace(const std::string& path);

// The reason the system gave for the last failed call, after a colon ("": no space left on
// device"), or "" when it gave none; ClearSystemError first, so that an old reason is never
// told for a new failure.
void ClearSystemError();
std::string SystemReason();

// Removes what an earlier build of the same destination left when it was killed or could
// not remove the package it replaced: "DEST.buildingN" and "DEST.previousN" that hold files
// only. Two builds of one destination at once are not supported.
void RemoveLeftovers(FileSystem& files, const std::string& destination);

// What the host's own view of the tree below root shows and the file service hides. Paths
// are relative to root in the host's text.
struct HostTreeProblems {
  // Names the host holds in a form Windows-1252 cannot write (on Linux, names whose UTF-8
  // has no Windows-1252 character); the file service passes them over.
  std::vector<std::string> unwritableNames;
  // Links whose target lies outside the tree, or nowhere: the file service follows them,
  // and a package would ship whatever they reach (a system file, a private key).
  std::vector<std::string> linksLeaving;
  // Links whose target lies inside the tree, with that target (relative to root): the file
  // service reads them as what they point to, so the package carries a copy of the file,
  // or the whole directory a second time.
  struct InsideLink {
    std::string link, target;
    bool toDirectory = false;
  };
  std::vector<InsideLink> linksInside;
};
// excluded(relative, name) is asked, in Windows-1252 with "\" separators, of every entry
// whose name converts: an excluded entry and what it holds are not looked at. Nothing on
// Windows, where an ANSI listing shows such characters as "?", which no name may hold.
HostTreeProblems FindHostTreeProblems(const std::string& root,
                                      const std::function<bool(const std::string&, const std::string&)>& excluded);

}  // namespace varno::pack
