// The file service over a Linux disk, for the host tools and the benchmark. Windows paths
// map below a root directory that holds one directory per drive ("C:\x\y" is root/C/x/y);
// names are matched without regard to case by scanning each directory, as Windows would.
// Two Windows rules are carried over with Linux means: a file without its owner's write
// permission is read-only (it can be neither replaced nor deleted, even by root), and a file
// that someone holds under an exclusive flock(2) lock is in use.
#pragma once

#include <string>

#include "platform/files.h"

namespace varno::posix {

class PosixFileSystem : public FileSystem {
 public:
  // With flushOnCommit (as the Win32 backend always does), a replacement's bytes reach the
  // disk before its name does; without it a crash may leave an empty or partial new file,
  // which only throwaway data (a benchmark's) can afford.
  explicit PosixFileSystem(std::string root, bool flushOnCommit = true);

  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
  // A reader here already shares the file with readers only (see OpenForReading); Linux
  // locks are advisory, so only writers that take them, as this backend's own, are held off.
  std::unique_ptr<InputFile> OpenHeldAgainstWriters(const std::string& path) override { return OpenForReading(path); }
  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string& path, const std::string& temporary) override;
  // Linux has no deletion at the next start.
  bool RemoveAtRestart(const std::string& path) override;
  uint64_t UnpredictableNumber() override;
  bool MoveFileTo(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  std::unique_ptr<AppendingFile> OpenForAppending(const std::string& path) override;
  bool RemoveEmptyDirectory(const std::string& path) override;
  bool CanReplace(const std::string& path) override;
  bool IsLinked(const std::string& path) override;
  std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string& path, bool* ownerRefused) override;
  ProtectedFileRead ReadProtectedFile(const std::string& path) override;
  bool MoveFileReplacing(const std::string& from, const std::string& to) override;
  bool FlushFile(const std::string& path) override;
  std::optional<uint64_t> FreeBytes(const std::string& directory) override;
  std::unique_ptr<DirectoryListing> ListMatching(const std::string& pattern) override;
  // Opened without following a symbolic link at its name, and kept open; Linux has no
  // sharing that refuses renames, so a held directory can still be renamed here (the tools
  // and the benchmark run as the user who owns their files).
  HeldDirectoryOpen HoldDirectory(const std::string& path) override;
  // The device and inode numbers, from lstat(2).
  std::optional<FileId> FileIdOf(const std::string& path) override;
  bool RemoveFileIfSame(const std::string& path, const FileId& id) override;

  // The directory relative paths resolve in, as a Windows path ("C:\" at first).
  void SetCurrentDirectory(const std::string& path) { currentDirectory_ = path; }
  const std::string& CurrentDirectory() const { return currentDirectory_; }

  // The Linux path of a Windows path: each existing name in its case on disk, the rest as
  // given. Empty for what this backend cannot map (a network path, a malformed one).
  std::string HostPath(const std::string& path) const;

 private:
  std::string root_;
  bool flushOnCommit_;
  std::string currentDirectory_ = "C:\\";
};

}  // namespace varno::posix
