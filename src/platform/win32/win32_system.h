#pragma once

#include "platform/system.h"

namespace varno::win32 {

class Win32System : public System {
 public:
  std::string CurrentDirectory() override;
  std::string WindowsDirectory() override;
  std::string SystemDirectory() override;
  std::string ModuleFileName() override;
  std::optional<OsVersion> WindowsVersion() override;
  std::optional<FileVersionWords> FixedFileVersion(const std::string& path) override;
  RegionalSettings Regional() override;
  void Pause(unsigned milliseconds) override;
  int CurrentYear() override;
  std::unique_ptr<Worker> MakeWorker() override;
};

}  // namespace varno::win32
