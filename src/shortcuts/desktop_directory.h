#pragma once

#include <string>

#include "platform/shell.h"

namespace varno {

// The file-system path of a shell folder; empty when the shell has none.
std::string SpecialFolderPath(Shell& shell, int csidl);

// The current user's desktop directory, never with a trailing backslash (a drive root
// "C:\" gives "C:"); empty when the shell has none.
std::string UserDesktopPath(Shell& shell);

}  // namespace varno
