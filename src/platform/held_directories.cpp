#include "platform/held_directories.h"

#include "base/ansi_text.h"
#include "base/windows_path.h"

namespace varno {
namespace {

// At or below the directory, compared as Windows compares names.
bool AtOrBelow(const std::string& path, const std::string& directory) {
  const std::string dir = WithoutTrailingBackslash(directory);
  if (dir.empty() || path.size() < dir.size() || AnsiUpperCase(path.substr(0, dir.size())) != AnsiUpperCase(dir)) {
    return false;
  }
  return path.size() == dir.size() || path[dir.size()] == '\\' || dir.back() == '\\';
}

}  // namespace

std::vector<std::string> LevelsOf(const std::string& directory) {
  std::vector<std::string> levels;
  for (std::string level = WithoutTrailingBackslash(directory); !level.empty(); level = ParentOf(level)) {
    levels.insert(levels.begin(), level);
  }
  // Above a share's own name there is only the server, which is no directory.
  if (directory.starts_with("\\\\")) {
    std::erase_if(levels, [](const std::string& level) {
      const size_t server = level.find('\\', 2);
      return server == std::string::npos || server + 1 >= level.size();
    });
  }
  return levels;
}

std::optional<HoldRefusal> HeldDirectories::HoldDown(const std::string& directory) {
  for (const std::string& level : LevelsOf(directory)) {
    const std::string key = AnsiUpperCase(level);
    if (held_.contains(key)) continue;
    HeldDirectoryOpen open = files_.HoldDirectory(level);
    if (open.status != DirectoryHold::Held) return HoldRefusal{level, open.status};
    held_[key] = std::move(open.held);
  }
  return std::nullopt;
}

DirectoryHold HeldDirectories::HoldDirectoryOf(const std::string& path) {
  for (const std::string& root : roots_) {
    if (!AtOrBelow(path, root)) continue;
    const std::string directory = ParentOf(path);
    if (directory.empty()) return DirectoryHold::Missing;
    const std::optional<HoldRefusal> refusal = HoldDown(directory);
    return refusal ? refusal->why : DirectoryHold::Held;
  }
  return DirectoryHold::Held;
}

DirectoryHold HeldDirectories::MakeHeld(const std::string& directory) {
  const std::string parent = ParentOf(directory);
  if (parent.empty()) return DirectoryHold::Missing;
  for (const std::string& root : roots_) {
    if (!AtOrBelow(directory, root)) continue;
    if (const std::optional<HoldRefusal> refusal = HoldDown(parent)) return refusal->why;
    HeldDirectoryOpen made = files_.MakeHeldDirectory(directory);
    if (made.status == DirectoryHold::Held) {
      held_[AnsiUpperCase(WithoutTrailingBackslash(directory))] = std::move(made.held);
    }
    return made.status;
  }
  return files_.MakeDirectory(directory) ? DirectoryHold::Held : DirectoryHold::Refused;
}

void HeldDirectories::Release(const std::string& directory) {
  std::erase_if(held_, [&](const auto& entry) { return AtOrBelow(entry.first, AnsiUpperCase(directory)); });
}

}  // namespace varno
