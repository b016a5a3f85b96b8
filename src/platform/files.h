#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varno {

// The file system, with Windows rules: names compare without regard to case, "\" separates,
// a relative path resolves in the process's current directory.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  /// True when a file (not a directory) exists at the path.
  virtual bool FileExists(const std::string& path) = 0;

  /// True when a directory exists at the path.
  virtual bool DirectoryExists(const std::string& path) = 0;

  /// The whole content of the file, or nothing when it cannot be opened or read.
  virtual std::optional<std::string> ReadWholeFile(const std::string& path) = 0;

  /// Gives the file exactly these bytes, creating it or replacing it as a whole: the bytes
  /// go to a temporary file in the same directory, which then takes the file's place. On
  /// false the previous file is unchanged and no temporary file remains.
  virtual bool ReplaceWholeFile(const std::string& path, std::string_view bytes) = 0;

  /// Moves (renames) a file. False when the source is missing, the destination already
  /// exists or its directory is missing.
  virtual bool MoveFileTo(const std::string& from, const std::string& to) = 0;

  /// Deletes a file. False when it is missing, read-only or in use.
  virtual bool RemoveFile(const std::string& path) = 0;

  /// Creates one directory level. False when it exists already or its parent is missing.
  virtual bool MakeDirectory(const std::string& path) = 0;
};

}  // namespace varno
