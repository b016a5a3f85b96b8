// The directories a run changes things in, held open from the drive's root down for as long
// as the run lasts. A directory is opened without following a reparse point and held without
// delete sharing: nobody can rename it, remove it or put a junction in its place while it is
// held, so a path that goes through held directories only leads where it led when they were
// checked, however often it is looked up again. A check of each level followed by a second
// look-up of the path would not be: a standard user who can write a level could swap it for
// a junction in between.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace varno {

// The first directory on a path that could not be held, and why.
struct HoldRefusal {
  std::string directory;
  DirectoryHold why = DirectoryHold::Missing;
};

class HeldDirectories {
 public:
  // roots: the directories below which nothing may be changed through a link (the
  // installation, the shortcut folders), full paths.
  HeldDirectories(FileSystem& files, std::vector<std::string> roots) : files_(files), roots_(std::move(roots)) {}
  HeldDirectories(HeldDirectories&&) = default;

  // Holds every level of the directory (a full path) from its drive's or share's root down,
  // each one opened only once the one above it is held. Nothing when all are held.
  std::optional<HoldRefusal> HoldDown(const std::string& directory);

  // For a path at or below one of the roots, holds the directory that holds it, every level
  // down: what the first level that could not be held is (missing, a link, refused). Held
  // for a path below no root, whose place only administrators can change.
  DirectoryHold HoldDirectoryOf(const std::string& path);

  // Makes the directory (a full path) and, at or below a root, holds it in the same step,
  // once every level above it is held; Held when it was made (and held where it must be).
  DirectoryHold MakeHeld(const std::string& directory);

  // Lets go of every directory.
  void ReleaseAll() { held_.clear(); }

  // Lets go of the directory and of every one held below it: a held directory cannot be
  // removed, by this program either.
  void Release(const std::string& directory);

  const std::vector<std::string>& Roots() const { return roots_; }

 private:
  FileSystem& files_;
  std::vector<std::string> roots_;
  std::map<std::string, std::unique_ptr<HeldDirectory>> held_;  // by upper-case path
};

// The levels of a full path from its root down: "C:\", "C:\A", "C:\A\B"; for a share,
// "\\server\share" first.
std::vector<std::string> LevelsOf(const std::string& directory);

}  // namespace varno
