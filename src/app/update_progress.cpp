#include "app/update_progress.h"

#include "base/texts.h"
#include "base/windows_path.h"
#include "package/archive_layout.h"
#include "package/section_lookup.h"
#include "platform/message_boxes.h"
#include "steps/file_steps.h"

namespace varno {
namespace {

constexpr char kInSubDirSection[] = "[insubdir]";

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

 private:
  std::unique_ptr<OutputFile> inner_;
  UpdateProgress& progress_;
};

uint64_t ArchiveBytes(FileSystem& files, const std::string& path) {
  const ArchiveCheck check = CheckArchiveFile(files, path);
  if (!check.Valid()) return 0;
  uint64_t bytes = 0;
  for (const ArchiveMember& member : check.layout.members) bytes += member.size;
  return bytes;
}

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

uint64_t PackageArchiveBytes(FileSystem& files, const std::string& packageDir, const std::string& descriptionPath) {
  uint64_t total = 0;
  const std::string mainArchive = JoinPath(packageDir, text::kMainArchiveFileName);
  if (files.FileExists(mainArchive)) total += ArchiveBytes(files, mainArchive);
  const auto lines = LoadPackageDescription(files, descriptionPath);
  if (!lines) return total;
  const auto section = FindSection(*lines, kInSubDirSection);
  if (!section) return total;
  for (const std::string& line : section->entries) {
    const auto entry = SplitSubDirArchive(line);
    if (!entry || entry->archiveName.empty()) continue;
    total += ArchiveBytes(files, JoinPath(packageDir, entry->archiveName));
  }
  return total;
}

Platform WithFiles(const Platform& platform, FileSystem& files) {
  return Platform{files,          platform.registry,  platform.shell,     platform.dialogs,
                  platform.window, platform.processes, platform.libraries, platform.system};
}

}  // namespace varno
