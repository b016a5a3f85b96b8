#pragma once

#include "platform/files.h"

namespace varno::win32 {

class Win32FileSystem : public FileSystem {
 public:
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
  std::optional<FileId> FileIdOf(const std::string& path) override;
  bool RemoveFileIfSame(const std::string& path, const FileId& id) override;
};

}  // namespace varno::win32
