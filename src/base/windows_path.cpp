#include "base/windows_path.h"

#include <vector>

#include "base/ansi_text.h"

namespace varno {
namespace {

bool IsUnc(std::string_view path) { return path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]); }

bool HasDrive(std::string_view path) { return path.size() >= 2 && path[1] == ':'; }

// The length of the root that begins path: "\\server\share" (or "\\server" without a share),
// "C:\", "C:", "\", or nothing for a relative path. A share's root takes no separator after
// it, as "\\server\share" already names a directory; a drive's does, as "C:" names another.
size_t RootLength(std::string_view path) {
  if (IsUnc(path)) {
    size_t end = 2;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    size_t share = end + 1;
    while (share < path.size() && !IsPathSeparator(path[share])) ++share;
    return share > end + 1 ? share : end;
  }
  if (HasDrive(path)) return path.size() > 2 && IsPathSeparator(path[2]) ? 3 : 2;
  return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

// The components of an absolute path resolved and joined below its root; empty when the
// path has no full root (a drive with its separator, or a share).
std::string Normalized(std::string_view absolute) {
  const size_t root = RootLength(absolute);
  std::string full;
  if (IsUnc(absolute)) {
    for (const char c : absolute.substr(0, root)) full += IsPathSeparator(c) ? '\\' : c;
  } else if (root == 3 && HasDrive(absolute)) {
    full = {AsciiUpper(absolute[0]), ':'};
  } else {
    return {};
  }
  std::vector<std::string_view> parts;
  size_t start = root;
  while (start < absolute.size()) {
    size_t end = start;
    while (end < absolute.size() && !IsPathSeparator(absolute[end])) ++end;
    const std::string_view part = absolute.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  for (const std::string_view part : parts) {
    full += '\\';
    full += part;
  }
  if (full.size() == 2) full += '\\';  // a drive root keeps its separator
  return full;
}

}  // namespace

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

size_t LastComponentStart(std::string_view path) {
  const size_t root = RootLength(path);
  size_t start = path.size();
  while (start > root && !IsPathSeparator(path[start - 1])) --start;
  return start;
}

std::string_view LastComponent(std::string_view path) { return path.substr(LastComponentStart(path)); }

std::string_view DirectoryPart(std::string_view path) { return path.substr(0, LastComponentStart(path)); }

std::string ParentOf(std::string_view path) {
  const size_t root = RootLength(path);
  if (path.size() <= root) return {};
  size_t end = LastComponentStart(path);
  while (end > root && IsPathSeparator(path[end - 1])) --end;
  return std::string(path.substr(0, end));
}

std::string WithoutTrailingBackslash(std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string out(directory);
  out += '\\';
  out += name;
  return out;
}

std::string FullPath(std::string_view path, std::string_view currentDirectory) {
  if (path.empty()) return {};
  std::string absolute;
  if (IsUnc(path)) {
    absolute = path;
  } else if (HasDrive(path)) {
    const bool onCurrentDrive = HasDrive(currentDirectory) && AsciiUpper(currentDirectory[0]) == AsciiUpper(path[0]);
    if (RootLength(path) == 3) {
      absolute = path;
    } else if (onCurrentDrive) {
      absolute = JoinPath(currentDirectory, path.substr(2));
    } else {
      absolute = JoinPath(path.substr(0, 2), path.substr(2));
    }
  } else if (IsPathSeparator(path[0])) {
    // The current drive ("C:") or share, whose root the path continues.
    std::string_view root = currentDirectory.substr(0, RootLength(currentDirectory));
    if (!IsUnc(root) && !root.empty() && IsPathSeparator(root.back())) root.remove_suffix(1);
    absolute = std::string(root) + std::string(path);
  } else {
    absolute = JoinPath(currentDirectory, path);
  }
  return Normalized(absolute);
}

}  // namespace varno
