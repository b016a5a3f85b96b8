// A file service layered over another that passes every call through; layers that watch or
// change a few calls derive from it and override those.
#pragma once

#include "platform/files.h"

namespace varno {

class ForwardingFiles : public FileSystem {
 public:
  explicit ForwardingFiles(FileSystem& inner) : inner_(inner) {}

  bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
  bool DirectoryExists(const std::string& path) override { return inner_.DirectoryExists(path); }
  std::unique_ptr<InputFile> OpenForReading(const std::string& path) override { return inner_.OpenForReading(path); }
  std::unique_ptr<InputFile> OpenHeldAgainstWriters(const std::string& path) override {
    return inner_.OpenHeldAgainstWriters(path);
  }
  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override {
    return inner_.CreateReplacement(path);
  }
  std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string& path, const std::string& temporary) override {
    return inner_.CreateReplacementNamed(path, temporary);
  }
  bool MoveFileTo(const std::string& from, const std::string& to) override { return inner_.MoveFileTo(from, to); }
  bool CopyFileTo(const std::string& from, const std::string& to) override { return inner_.CopyFileTo(from, to); }
  bool RemoveFile(const std::string& path) override { return inner_.RemoveFile(path); }
  bool MakeDirectory(const std::string& path) override { return inner_.MakeDirectory(path); }
  bool IsLinked(const std::string& path) override { return inner_.IsLinked(path); }
  std::unique_ptr<AppendingFile> OpenForAppending(const std::string& path) override {
    return inner_.OpenForAppending(path);
  }
  std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string& path, bool* ownerRefused) override {
    return inner_.CreateProtectedForAppending(path, ownerRefused);
  }
  ProtectedFileRead ReadProtectedFile(const std::string& path) override { return inner_.ReadProtectedFile(path); }
  HeldForRunning OpenHeldForRunning(const std::string& path) override { return inner_.OpenHeldForRunning(path); }
  FileTrust TrustOfDirectory(const std::string& path, bool othersMayAdd) override {
    return inner_.TrustOfDirectory(path, othersMayAdd);
  }
  bool MakeProtectedDirectory(const std::string& path) override { return inner_.MakeProtectedDirectory(path); }
  bool MoveFileReplacing(const std::string& from, const std::string& to) override {
    return inner_.MoveFileReplacing(from, to);
  }
  bool FlushFile(const std::string& path) override { return inner_.FlushFile(path); }
  bool FlushVolume(const std::string& path) override { return inner_.FlushVolume(path); }
  bool RemoveEmptyDirectory(const std::string& path) override { return inner_.RemoveEmptyDirectory(path); }
  bool RemoveAtRestart(const std::string& path) override { return inner_.RemoveAtRestart(path); }
  uint64_t UnpredictableNumber() override { return inner_.UnpredictableNumber(); }
  bool CanReplace(const std::string& path) override { return inner_.CanReplace(path); }
  std::optional<uint64_t> FreeBytes(const std::string& directory) override { return inner_.FreeBytes(directory); }
  HeldDirectoryOpen HoldDirectory(const std::string& path) override { return inner_.HoldDirectory(path); }
  HeldDirectoryOpen MakeHeldDirectory(const std::string& path) override { return inner_.MakeHeldDirectory(path); }
  std::optional<FileId> FileIdOf(const std::string& path) override { return inner_.FileIdOf(path); }
  bool RemoveFileIfSame(const std::string& path, const FileId& id) override { return inner_.RemoveFileIfSame(path, id); }
  std::unique_ptr<DirectoryListing> ListMatching(const std::string& pattern) override {
    return inner_.ListMatching(pattern);
  }

 protected:
  FileSystem& inner_;
};

}  // namespace varno
