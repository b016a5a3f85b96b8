// A fresh directory under the system's temporary folder for one Win32 test, removed with
// everything in it afterwards.
#pragma once

#include <string>
#include <vector>

namespace varno::fake {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& Path() const { return path_; }
  std::string In(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// The entry names of a directory, "." and ".." left out.
std::vector<std::string> ListDirectory(const std::string& directory);

// Reads and writes raw bytes, independently of the backend under test.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

std::string CurrentDirectoryPath();

}  // namespace varno::fake
