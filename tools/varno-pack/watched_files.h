// File services layered over the real one: a base that passes every call through, and the
// layer through which the commands read and write, which feeds the progress meter, stops
// reading once the user interrupts, and notes each replacement that reached its file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "progress.h"

namespace varno::pack {

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
  bool MoveFileTo(const std::string& from, const std::string& to) override { return inner_.MoveFileTo(from, to); }
  bool CopyFileTo(const std::string& from, const std::string& to) override { return inner_.CopyFileTo(from, to); }
  bool RemoveFile(const std::string& path) override { return inner_.RemoveFile(path); }
  bool MakeDirectory(const std::string& path) override { return inner_.MakeDirectory(path); }
  std::unique_ptr<DirectoryListing> ListMatching(const std::string& pattern) override {
    return inner_.ListMatching(pattern);
  }

 protected:
  FileSystem& inner_;
};

class WatchedFiles : public ForwardingFiles {
 public:
  WatchedFiles(FileSystem& inner, Progress& progress) : ForwardingFiles(inner), progress_(progress) {}

  // Reads count on the progress meter and give nothing once interrupted, so that the
  // writer or the extractor in progress ends as it does on a short file.
  std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
  // A replacement is refused its commit once interrupted; those that commit are noted.
  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override;

  // The paths of the replacements that were committed, in order.
  const std::vector<std::string>& Committed() const { return committed_; }

 private:
  Progress& progress_;
  std::vector<std::string> committed_;
};

}  // namespace varno::pack
