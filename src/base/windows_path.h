// The rules of Windows paths, in one place, for every layer and both backends: which
// characters separate names, where a path's root ends, its last component and its parent,
// and the full path a relative one stands for. Pure text: nothing here touches a disk.
//
// Roots are "C:\" (a drive), "\\server\share" (a network share), and, in paths that are not
// full, "C:" (the current directory of drive C) and "\" (the root of the current drive).
#pragma once

#include <string>
#include <string_view>

namespace varno {

// Windows takes "/" for "\" everywhere a path is parsed.
bool IsPathSeparator(char c);

// Where the last component begins: after the last separator or a drive's colon, never
// inside the root. A root's last component is empty, and so is that of "C:\Dir\".
size_t LastComponentStart(std::string_view path);
std::string_view LastComponent(std::string_view path);

// The path up to its last component, its separator kept: "C:\App\run.exe" gives "C:\App\",
// "C:run.exe" gives "C:", a bare name gives "".
std::string_view DirectoryPart(std::string_view path);

// The directory that holds the last component, as a path of its own (no trailing separator
// unless it is a drive root): "C:\a\b" gives "C:\a", "C:\a" gives "C:\", "a\b" gives "a".
// Empty for a root or a bare name, which have none.
std::string ParentOf(std::string_view path);

// Directory values are held without a trailing backslash; these two keep that rule.
// JoinPath puts exactly one "\" between its parts and looks at neither.
std::string WithoutTrailingBackslash(std::string_view path);
std::string JoinPath(std::string_view directory, std::string_view name);

// The full path Windows makes of path in currentDirectory (itself a full path), as
// GetFullPathNameA does: "\" separators only, "." and ".." resolved (".." stops at the
// root), empty components dropped, the drive letter in capitals. "\Root" is on the current
// drive or share; "D:Sub" and "D:" are relative to the current directory when D is its drive
// and to D's root otherwise (one current directory is kept, not one per drive). Unlike
// GetFullPathNameA, no trailing separator is kept but a drive root's, so that one place has
// one spelling. Empty when path is empty or no root can be found for it.
std::string FullPath(std::string_view path, std::string_view currentDirectory);

}  // namespace varno
