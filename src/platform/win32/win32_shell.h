#pragma once

#include "platform/shell.h"
#include "platform/win32/win32.h"

namespace varno::win32 {

class Win32Shell : public Shell {
 public:
  // The shell asks for an owner window for any box it might show; the progress window is it.
  explicit Win32Shell(HWND owner) : owner_(owner) {}
  std::string SpecialFolderPath(int csidl) override;
  LinkSave SaveShellLink(const ShellLinkFields& link, const std::string& linkPath) override;

 private:
  HWND owner_;
};

}  // namespace varno::win32
