#include "app/update_progress.h"

#include "base/texts.h"
#include "platform/message_boxes.h"

namespace varno {
namespace {

class CountedReplacement : public OutputFile {
 public:
  CountedReplacement(std::unique_ptr<OutputFile> inner, UpdateProgress& progress)
      : inner_(std::move(inner)), progress_(progress) {}

  bool Write(const char* data, size_t size) override {
    if (!inner_->Write(data, size)) return false;
    // May raise UpdateInterrupted: the replacement is then dropped uncommitted, so the file
    // stays as it was.
    progress_.Advance(size);
    return true;
  }
  bool Commit() override { return inner_->Commit(); }
  bool Finish() override { return inner_->Finish(); }

 private:
  std::unique_ptr<OutputFile> inner_;
  UpdateProgress& progress_;
};

}  // namespace

void UpdateProgress::Start(uint64_t total) {
  done_ = 0;
  platform_.window.ShowProgress(total);
  Turn();
}

void UpdateProgress::Advance(uint64_t bytes) {
  done_ += bytes;
  platform_.window.SetProgress(done_);
  Turn();
}

void UpdateProgress::Turn() {
  if (!platform_.window.ProcessPendingMessages()) return;
  if (AskConfirmation(platform_, text::kAskInterrupt)) throw UpdateInterrupted();
}

std::unique_ptr<OutputFile> ProgressFiles::CreateReplacement(const std::string& path) {
  auto replacement = inner_.CreateReplacement(path);
  if (!replacement) return nullptr;
  return std::make_unique<CountedReplacement>(std::move(replacement), progress_);
}

Platform WithFiles(const Platform& platform, FileSystem& files) {
  return Platform{files,          platform.registry,  platform.shell,     platform.dialogs,
                  platform.window, platform.processes, platform.libraries, platform.system,
                  platform.holders};
}

}  // namespace varno
