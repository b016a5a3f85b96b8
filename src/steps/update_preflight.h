// What the package's archives will write, known before anything is written: the files
// they replace (which must not be in use) and the bytes they hold (which must fit).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/run_state.h"
#include "platform/files.h"

namespace varno {

struct PlannedWrites {
  std::vector<std::string> replaced;  // existing files the members will replace, in order, then
                                      // those "[delete]" removes
  uint64_t bytes = 0;                 // the size of every member that will be written
};

// Reads the layouts of "sor_ti1.slp" and of each archive an "[insubdir]" line names, as the
// file steps will unpack them. Archives that are missing or malformed count for nothing
// (the steps pass them over or refuse them as a whole), and so do members whose directory
// does not exist.
PlannedWrites PlanArchiveWrites(FileSystem& files, const RunState& state);

// The replaced files that cannot be replaced now (in use, read-only).
std::vector<std::string> FilesInUse(FileSystem& files, const PlannedWrites& writes);

}  // namespace varno
