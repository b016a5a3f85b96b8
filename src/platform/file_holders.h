// The programs that hold a product's files open, and asking them to end and start again,
// so that an update left waiting by an open program can go on without anyone at the machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varno {

// A running process that holds at least one of the files asked about.
struct FileHolder {
  uint32_t processId = 0;
  // The program's full path; its file name alone when the path cannot be read.
  std::string program;
  // "DOMAIN\user" the process runs as; empty when its token cannot be read.
  std::string user;
  // The files asked about that it holds, loaded as a module or opened, as they were given.
  std::vector<std::string> files;
  // As the process was started, read from it; empty when they cannot be read.
  std::string commandLine;
  std::string currentDirectory;
};

enum class EndRequest {
  Ended,         // the process agreed and is gone
  Refused,       // one of its windows said no: it is left running
  StillRunning,  // it has no window to ask, or it agreed and is still there after the wait
};

class FileHolders {
 public:
  virtual ~FileHolders() = default;

  /// The processes other than the updater that hold any of these files, each once, in the
  /// order found. Empty when none does or the system cannot tell; a holder the system cannot
  /// see is simply missing, so the caller still checks the files themselves.
  virtual std::vector<FileHolder> Find(const std::vector<std::string>& paths) = 0;

  /// Asks the process to end as the system does at log-off: each of its visible top-level
  /// windows is asked whether it may close for an update and, once all agree, told so; then
  /// waits a generous while for it to be gone. The answer is the process's, not a proof that
  /// the files are free.
  virtual EndRequest AskToEnd(const FileHolder& holder) = 0;

  /// Ends the process without asking (what it had not saved is lost). True once it ended.
  virtual bool ForceEnd(const FileHolder& holder) = 0;

  /// Starts the program again with the command line and current directory it had, as the
  /// user of its session when the updater runs as the system account. False when it could
  /// not be started.
  virtual bool Restart(const FileHolder& holder) = 0;
};

}  // namespace varno
