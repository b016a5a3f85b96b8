// The programs that hold the files an update replaces: named where the administrator looks,
// closed when the run is allowed to, and started again when it ends.
#pragma once

#include <string>
#include <vector>

#include "base/line_log.h"
#include "platform/platform.h"

namespace varno {

// What the run learnt and did about the programs holding its files.
struct HoldersOfTheRun {
  std::vector<FileHolder> named;   // every holder found, each once, for the run's event
  std::vector<FileHolder> closed;  // those the run closed: started again when it ends
};

// "Varnolith.exe (processus 1234, utilisateur PC\Pierre)".
std::string DescribeHolder(const FileHolder& holder);

// Finds the holders of the files in use and names each in the log with the files it holds.
std::vector<FileHolder> NameHolders(Platform& platform, const std::vector<std::string>& inUse, LineLog& log,
                                    HoldersOfTheRun& holders);

// Asks each holder to end; with force, one that refuses or stays is ended all the same. A
// holder counts as closed only once the files show it gone, whatever it answered.
void CloseHolders(Platform& platform, const std::vector<FileHolder>& found, bool force, LineLog& log,
                  HoldersOfTheRun& holders);

// Starts again, once, each program the run closed, and nothing else.
void RestartClosedPrograms(Platform& platform, LineLog& log, HoldersOfTheRun& holders);

}  // namespace varno
