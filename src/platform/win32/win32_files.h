#pragma once

#include "platform/files.h"

namespace varno::win32 {

class Win32FileSystem : public FileSystem {
 public:
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  std::optional<std::string> ReadWholeFile(const std::string& path) override;
  bool ReplaceWholeFile(const std::string& path, std::string_view bytes) override;
  bool MoveFileTo(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
};

}  // namespace varno::win32
