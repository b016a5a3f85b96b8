#include "package/held_package_files.h"

#include <utility>

#include "base/ansi_text.h"
#include "base/windows_path.h"

namespace varno {

void HeldPackageFiles::Seal(const std::string& packageDir, HeldPackage held) {
  prefix_ = AnsiUpperCase(WithoutTrailingBackslash(FullPath(packageDir, packageDir))) + "\\";
  held_ = std::move(held);
  sealed_ = true;
}

std::optional<std::string> HeldPackageFiles::NameInPackage(const std::string& path) const {
  if (!sealed_) return std::nullopt;
  // ".." and "/" resolved as Windows would, so no spelling of a package file's path
  // reaches it by name. A path that cannot be resolved is kept away from the disk too.
  const std::string full = AnsiUpperCase(FullPath(path, prefix_));
  if (full.empty()) return std::string();
  if (!full.starts_with(prefix_)) return std::nullopt;
  return full.substr(prefix_.size());
}

bool HeldPackageFiles::FileExists(const std::string& path) {
  const auto name = NameInPackage(path);
  return name ? held_.Lists(*name) : inner_.FileExists(path);
}

std::unique_ptr<InputFile> HeldPackageFiles::OpenForReading(const std::string& path) {
  const auto name = NameInPackage(path);
  return name ? held_.Open(*name) : inner_.OpenForReading(path);
}

std::unique_ptr<InputFile> HeldPackageFiles::OpenHeldAgainstWriters(const std::string& path) {
  // Held already, for the whole run.
  const auto name = NameInPackage(path);
  return name ? held_.Open(*name) : inner_.OpenHeldAgainstWriters(path);
}

bool HeldPackageFiles::CopyFileTo(const std::string& from, const std::string& to) {
  return NameInPackage(from) ? FileSystem::CopyFileTo(from, to) : inner_.CopyFileTo(from, to);
}

}  // namespace varno
