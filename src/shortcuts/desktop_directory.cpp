#include "shortcuts/desktop_directory.h"

#include "base/ansi_text.h"

namespace varno {

std::string SpecialFolderPath(Shell& shell, int csidl) { return shell.SpecialFolderPath(csidl); }

std::string UserDesktopPath(Shell& shell) {
  return WithoutTrailingBackslash(SpecialFolderPath(shell, kCsidlDesktop));
}

}  // namespace varno
