#include "win32/scratch_directory.h"

#include <atomic>
#include <fstream>
#include <sstream>

#include "platform/win32/win32.h"

namespace varno::fake {
namespace {

void RemoveTree(const std::string& path) {
  for (const std::string& name : ListDirectory(path)) {
    const std::string child = path + "\\" + name;
    SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (GetFileAttributesA(child.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(child);
    } else {
      DeleteFileA(child.c_str());
    }
  }
  RemoveDirectoryA(path.c_str());
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  static std::atomic<int> counter{0};
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  path_ = std::string(temp) + "varno-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchDirectory::~ScratchDirectory() { RemoveTree(path_); }

std::vector<std::string> ListDirectory(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  win32::UniqueFind find(FindFirstFileA((directory + "\\*").c_str(), &entry));
  if (!find.Valid()) return names;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find.Get(), &entry));
  return names;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<no file>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string CurrentDirectoryPath() {
  return win32::ReadSizedString([](DWORD size, char* buffer) { return GetCurrentDirectoryA(size, buffer); });
}

}  // namespace varno::fake
