#include "host/package_directory.h"

#ifdef _WIN32
#include "platform/win32/win32.h"
#else
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/host_text.h"
#endif

namespace varno::pack {

void RemoveLeftovers(FileSystem& files, const std::string& destination) {
  const size_t separator = destination.find_last_of('\\');
  if (separator == std::string::npos) return;
  const std::string parent = destination.substr(0, separator);
  const std::string base = destination.substr(separator + 1);
  std::vector<std::string> leftovers;
  for (const char* purpose : {".building", ".previous"}) {
    auto listing = files.ListMatching(parent + "\\" + base + purpose + "*");
    while (auto entry = listing->Next()) {
      const std::string digits = entry->name.substr(base.size() + std::string(purpose).size());
      if (entry->isDirectory && !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) {
        leftovers.push_back(parent + "\\" + entry->name);
      }
    }
  }
  for (const std::string& leftover : leftovers) {
    std::vector<std::string> names;
    bool filesOnly = true;
    auto listing = files.ListMatching(leftover + "\\*");
    while (auto entry = listing->Next()) {
      filesOnly = filesOnly && !entry->isDirectory;
      names.push_back(entry->name);
    }
    if (!filesOnly) continue;
    for (const std::string& name : names) files.RemoveFile(leftover + "\\" + name);
    RemoveEmptyDirectory(leftover);
  }
}

#ifdef _WIN32

void ClearSystemError() { SetLastError(0); }

std::string SystemReason() {
  const DWORD error = GetLastError();
  if (error == 0) return {};
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      text, sizeof(text), nullptr);
  std::string reason(text, length);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' || reason.back() == '.')) reason.pop_back();
  return ": " + reason;
}

bool RenameDirectory(const std::string& from, const std::string& to) { return MoveFileExA(from.c_str(), to.c_str(), 0); }

bool RemoveEmptyDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()); }

std::string RealPlace(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
  return length > 0 && length < sizeof(full) ? std::string(full, length) : path;
}

HostTreeProblems FindHostTreeProblems(const std::string&,
                                      const std::function<bool(const std::string&, const std::string&)>&) {
  return {};
}

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

void ClearSystemError() { errno = 0; }

std::string SystemReason() { return errno == 0 ? std::string() : std::string(": ") + std::strerror(errno); }

bool RenameDirectory(const std::string& from, const std::string& to) {
  return ::rename(LinuxPath(from).c_str(), LinuxPath(to).c_str()) == 0;
}

bool RemoveEmptyDirectory(const std::string& path) { return ::rmdir(LinuxPath(path).c_str()) == 0; }

std::string RealPlace(const std::string& path) {
  std::error_code error;
  // The longest part that exists is resolved, links and all; the rest is kept as written.
  const std::filesystem::path real = std::filesystem::weakly_canonical(LinuxPath(path), error);
  const auto windows = error ? std::nullopt : Utf8ToCp1252(real.string());
  if (!windows) return path;
  std::string result = "C:" + *windows;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

HostTreeProblems FindHostTreeProblems(const std::string& root,
                                      const std::function<bool(const std::string&, const std::string&)>& excluded) {
  namespace fs = std::filesystem;
  HostTreeProblems found;
  std::error_code error;
  const fs::path base = LinuxPath(root);
  const fs::path top = fs::canonical(base, error);
  if (error) return found;
  for (auto it = fs::recursive_directory_iterator(base, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::path relative = it->path().lexically_relative(base);
    const auto name = Utf8ToCp1252(it->path().filename().string());
    if (!name) {
      found.unwritableNames.push_back(relative.string());
      it.disable_recursion_pending();
      continue;
    }
    std::string windowsRelative = Utf8ToCp1252(relative.string()).value_or(*name);
    std::replace(windowsRelative.begin(), windowsRelative.end(), '/', '\\');
    if (excluded(windowsRelative, *name)) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_symlink(error)) continue;
    std::error_code resolving;
    const fs::path target = fs::canonical(it->path(), resolving);
    const auto [end, unused] = std::mismatch(top.begin(), top.end(), target.begin(), target.end());
    if (resolving || end != top.end()) {
      found.linksLeaving.push_back(relative.string());
    } else {
      found.linksInside.push_back({relative.string(), target.lexically_relative(top).string(),
                                   fs::is_directory(target, resolving)});
    }
    // A link to a directory of the tree is read through the file service like any
    // directory; it is not walked twice here.
    it.disable_recursion_pending();
  }
  std::sort(found.unwritableNames.begin(), found.unwritableNames.end());
  std::sort(found.linksLeaving.begin(), found.linksLeaving.end());
  std::sort(found.linksInside.begin(), found.linksInside.end(),
            [](const auto& a, const auto& b) { return a.link < b.link; });
  return found;
}

#endif

}  // namespace varno::pack
