// A platform for work that runs the updater's code on files alone, with nobody to answer and
// no machine to change: the package authors' tool and the benchmark. Every service but the
// files is inert: boxes are not shown (a question counts as answered "Non"), the window is
// never drawn, the registry and the shell refuse, no library or program is started.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace varno {

class DetachedPlatform {
 public:
  explicit DetachedPlatform(FileSystem& files);
  DetachedPlatform(const DetachedPlatform&) = delete;
  DetachedPlatform& operator=(const DetachedPlatform&) = delete;
  ~DetachedPlatform();

  Platform& platform() { return platform_; }

 private:
  struct Inert;
  std::unique_ptr<Inert> inert_;
  Platform platform_;
};

}  // namespace varno
