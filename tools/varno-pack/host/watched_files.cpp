#include "host/watched_files.h"

namespace varno::pack {
namespace {

class WatchedInput : public InputFile {
 public:
  WatchedInput(std::unique_ptr<InputFile> inner, Progress& progress) : inner_(std::move(inner)), progress_(progress) {}
  size_t Read(char* buffer, size_t size) override {
    if (Interrupted()) return 0;
    const size_t read = inner_->Read(buffer, size);
    progress_.Advance(read);
    return read;
  }
  bool Seek(uint64_t position) override { return inner_->Seek(position); }
  uint64_t Size() override { return inner_->Size(); }

 private:
  std::unique_ptr<InputFile> inner_;
  Progress& progress_;
};

class WatchedOutput : public OutputFile {
 public:
  explicit WatchedOutput(std::unique_ptr<OutputFile> inner) : inner_(std::move(inner)) {}
  bool Write(const char* data, size_t size) override { return inner_->Write(data, size); }
  bool Commit() override { return !Interrupted() && inner_->Commit(); }
  bool Finish() override { return inner_->Finish(); }

 private:
  std::unique_ptr<OutputFile> inner_;
};

}  // namespace

std::unique_ptr<InputFile> WatchedFiles::OpenForReading(const std::string& path) {
  auto file = inner_.OpenForReading(path);
  if (!file) return nullptr;
  return std::make_unique<WatchedInput>(std::move(file), progress_);
}

std::unique_ptr<OutputFile> WatchedFiles::CreateReplacement(const std::string& path) {
  auto file = inner_.CreateReplacement(path);
  if (!file) return nullptr;
  return std::make_unique<WatchedOutput>(std::move(file));
}

}  // namespace varno::pack
