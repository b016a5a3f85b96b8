#include "package_directory.h"

#ifdef _WIN32
#include "platform/win32/win32.h"
#else
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host_text.h"
#endif

namespace varno::pack {

#ifdef _WIN32

bool RenameDirectory(const std::string& from, const std::string& to) { return MoveFileExA(from.c_str(), to.c_str(), 0); }

bool RemoveEmptyDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()); }

std::vector<std::string> UnwritableNames(const std::string&) { return {}; }

#else

namespace {

// HostDisk gives a Linux path as "C:" followed by it, with "\" for "/" (its private root maps
// the drive to "/").
std::string LinuxPath(const std::string& windowsPath) {
  std::string path = Cp1252ToUtf8(windowsPath.substr(windowsPath.size() >= 2 && windowsPath[1] == ':' ? 2 : 0));
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace

bool RenameDirectory(const std::string& from, const std::string& to) {
  return ::rename(LinuxPath(from).c_str(), LinuxPath(to).c_str()) == 0;
}

bool RemoveEmptyDirectory(const std::string& path) { return ::rmdir(LinuxPath(path).c_str()) == 0; }

std::vector<std::string> UnwritableNames(const std::string& root) {
  std::vector<std::string> found;
  std::error_code error;
  const std::filesystem::path base = LinuxPath(root);
  for (auto it = std::filesystem::recursive_directory_iterator(base, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (!Utf8ToCp1252(it->path().filename().string())) {
      found.push_back(it->path().lexically_relative(base).string());
      it.disable_recursion_pending();
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

#endif

}  // namespace varno::pack
