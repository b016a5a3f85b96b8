#pragma once

#include <string>

namespace varno::win32 {

// The modal directory-selection dialog: a directory name field, the directories and the
// files of the directory shown, the drives, OK and "Annuler". It starts in the process's
// current directory and never changes it. Gives the chosen directory, or an empty string
// when cancelled.
std::string RunDirectoryDialog();

}  // namespace varno::win32
