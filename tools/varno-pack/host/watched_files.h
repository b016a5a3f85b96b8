// The file service through which the commands read and write: it feeds the progress meter
// and stops reading once the user interrupts.
#pragma once

#include <memory>
#include <string>

#include "host/progress.h"
#include "platform/forwarding_files.h"

namespace varno::pack {

class WatchedFiles : public ForwardingFiles {
 public:
  WatchedFiles(FileSystem& inner, Progress& progress) : ForwardingFiles(inner), progress_(progress) {}

  // Reads count on the progress meter and give nothing once interrupted, so that the
  // writer or the extractor in progress ends as it does on a short file.
  std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
  // A replacement is refused its commit once interrupted.
  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override;

 private:
  Progress& progress_;
};

}  // namespace varno::pack
