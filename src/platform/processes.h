#pragma once

#include <string>
#include <vector>

namespace varno {

class Processes {
 public:
  virtual ~Processes() = default;

  /// Starts the program as a new process with no command line, without inherited handles,
  /// in the updater's own environment and current directory, and does not wait for it.
  /// False when it could not be started. The process handle is kept, never closed.
  virtual bool StartProgram(const std::string& applicationName) = 0;

  /// Claims the machine-wide right to be the one updater that runs, for the rest of the
  /// process. False when another updater holds it.
  virtual bool ClaimSoleUpdater() = 0;
};

}  // namespace varno
