#include "project/name_rules.h"

#include "base/ansi_text.h"
#include "package/archive_layout.h"

namespace varno::pack {

std::optional<std::string> CheckInstalledName(const std::string& name, bool directory) {
  if (name.find('\\') != std::string::npos) return std::string("holds \"\\\", which Windows takes for a separator");
  if (auto problem = CheckMemberName(name)) return problem;
  if (auto problem = CheckWindowsName(name)) return problem;
  if (directory && name.front() == ' ') return std::string("starts with a blank, which the updater drops");
  if (directory && name.front() == '[') return std::string("starts with \"[\", which would end its description section");
  return std::nullopt;
}

std::optional<std::string> CheckInstalledPath(std::string_view path, bool isDirectory) {
  // The archive reader's own rules see the whole name (a "..", an absolute path).
  if (auto problem = CheckMemberName(path)) return problem;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of("\\/", start);
    const std::string component(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    const bool directory = end != std::string_view::npos || isDirectory;
    if (auto problem = CheckInstalledName(component, directory)) {
      return end != std::string_view::npos || start > 0 ? "has the component \"" + component + "\", which " + *problem : *problem;
    }
    if (end == std::string_view::npos) return std::nullopt;
    start = end + 1;
  }
}

std::optional<std::string> CheckPathLength(std::string_view relative, int installDirLength) {
  constexpr size_t kMaxPath = 260;
  const size_t length = static_cast<size_t>(installDirLength) + 1 + relative.size();
  if (length + 1 <= kMaxPath) return std::nullopt;
  return "is " + std::to_string(length) + " characters long in an installation directory of " +
         std::to_string(installDirLength) + ": Windows opens no path of more than " + std::to_string(kMaxPath - 1) +
         ", so the updater cannot write it";
}

}  // namespace varno::pack
