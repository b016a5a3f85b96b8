#pragma once

#include <memory>

#include "platform/files.h"

namespace varno::win32 {

class HeldNames;

// Below a directory it holds (HoldDirectory, MakeHeldDirectory), every create, open for
// writing, rename, deletion and directory made or removed names the file relative to the held
// handle, never by its whole path again; elsewhere, by path. Holds must be dropped before the
// file system is; it is used from one thread.
class Win32FileSystem : public FileSystem {
 public:
  Win32FileSystem();
  ~Win32FileSystem() override;
  Win32FileSystem(const Win32FileSystem&) = delete;
  Win32FileSystem& operator=(const Win32FileSystem&) = delete;

  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<InputFile> OpenHeldAgainstWriters(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string& path, const std::string& temporary) override;
  bool RemoveAtRestart(const std::string& path) override;
  uint64_t UnpredictableNumber() override;
  bool MoveFileTo(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  std::unique_ptr<AppendingFile> OpenForAppending(const std::string& path) override;
  std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string& path, bool* ownerRefused) override;
  ProtectedFileRead ReadProtectedFile(const std::string& path) override;
  HeldForRunning OpenHeldForRunning(const std::string& path) override;
  FileTrust TrustOfDirectory(const std::string& path, bool othersMayAdd) override;
  bool MakeProtectedDirectory(const std::string& path) override;
  bool MoveFileReplacing(const std::string& from, const std::string& to) override;
  bool FlushFile(const std::string& path) override;
  bool FlushVolume(const std::string& path) override;
  bool RemoveEmptyDirectory(const std::string& path) override;
  bool CanReplace(const std::string& path) override;
  bool IsLinked(const std::string& path) override;
  std::optional<uint64_t> FreeBytes(const std::string& directory) override;
  std::unique_ptr<DirectoryListing> ListMatching(const std::string& pattern) override;
  HeldDirectoryOpen HoldDirectory(const std::string& path) override;
  HeldDirectoryOpen MakeHeldDirectory(const std::string& path) override;
  std::optional<FileId> FileIdOf(const std::string& path) override;
  bool RemoveFileIfSame(const std::string& path, const FileId& id) override;

 private:
  std::unique_ptr<HeldNames> names_;
};

}  // namespace varno::win32
