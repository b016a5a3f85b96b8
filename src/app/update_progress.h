// The window's side of a long update: how many bytes the package's archives will write, how
// many are written, and turns through the window's messages between blocks of work, so that
// the window keeps answering on the driver's own thread (COM and the shell link object must
// stay on it, and the MinGW runtime the product is built with has no threads).
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "platform/forwarding_files.h"
#include "platform/platform.h"

namespace varno {

// The user closed the window while the update worked and confirmed: the driver takes the
// run back as for an error, without the error box.
class UpdateInterrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "update interrupted by the user"; }
};

class UpdateProgress {
 public:
  explicit UpdateProgress(Platform& platform) : platform_(platform) {}

  // Shows the bar at 0 of total bytes.
  void Start(uint64_t total);

  // Counts bytes written, moves the bar and lets the window answer.
  void Advance(uint64_t bytes);

  // Lets the window answer. When its close box was used, asks whether to interrupt the
  // update; Oui raises UpdateInterrupted, Non goes on.
  void Turn();

  uint64_t Done() const { return done_; }

 private:
  Platform& platform_;
  uint64_t done_ = 0;
};

// A file layer whose replacements count what they write into the progress, so the bar moves
// and the window answers also inside one large member.
class ProgressFiles : public ForwardingFiles {
 public:
  ProgressFiles(FileSystem& inner, UpdateProgress& progress) : ForwardingFiles(inner), progress_(progress) {}

  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override;

 private:
  UpdateProgress& progress_;
};

// The same services as platform, but files.
Platform WithFiles(const Platform& platform, FileSystem& files);

}  // namespace varno
