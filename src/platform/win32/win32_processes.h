#pragma once

#include "platform/processes.h"
#include "platform/win32/win32.h"

namespace varno::win32 {

class Win32Processes : public Processes {
 public:
  bool StartProgram(const std::string& applicationName) override;
  bool ClaimSoleUpdater() override;

 private:
  // The last started process stays referenced for the life of the updater.
  UniqueHandle lastProcess_;
};

}  // namespace varno::win32
