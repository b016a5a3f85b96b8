// The "[delta]" section against the package's archives, and, when an installation is given,
// against the files installed there: which deltas the updater will apply.
#pragma once

#include <string>
#include <vector>

#include "checks/report.h"
#include "platform/files.h"

namespace varno::pack {

struct DeltaCheck {
  size_t deltas = 0;     // lines that name a delta
  size_t applying = 0;   // of them, those whose file in the installation is the one they fit
  size_t wholeFiles = 0; // those that do not fit but whose whole file the package carries
};

// againstDir (a Windows path) may be empty: the package alone is checked.
DeltaCheck CheckDeltas(FileSystem& files, const std::string& packageDir, const std::vector<std::string>& lines,
                       const std::string& againstDir, const std::string& againstShown, Report& report);

}  // namespace varno::pack
