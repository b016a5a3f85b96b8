#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/regional_settings.h"

namespace varno {

// The most and least significant 32-bit words of a file's fixed version information.
struct FileVersionWords {
  uint32_t mostSignificant = 0;
  uint32_t leastSignificant = 0;
};

struct OsVersion {
  uint32_t platformId = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
};

// Work handed to another thread, one task at a time, so that the caller goes on meanwhile.
// The caller touches nothing a task uses until it waited for it.
class Worker {
 public:
  virtual ~Worker() = default;  // a worker waits for its task before it goes
  /// Runs the task once the one started before it has ended.
  virtual void Start(std::function<void()> task) = 0;
  /// Waits until the task started last has ended.
  virtual void Wait() = 0;
};

// Where there is no second thread: the task runs at once, on the caller's.
class InlineWorker : public Worker {
 public:
  void Start(std::function<void()> task) override { task(); }
  void Wait() override {}
};

class System {
 public:
  virtual ~System() = default;

  /// The process's current directory as the system gives it (a drive root keeps its "\").
  virtual std::string CurrentDirectory() = 0;

  /// The Windows directory. Empty when the system cannot give it.
  virtual std::string WindowsDirectory() = 0;

  /// The Windows system directory (for a 32-bit program, the one its libraries come from).
  /// Empty when the system cannot give it.
  virtual std::string SystemDirectory() = 0;

  /// The full path of the running program.
  virtual std::string ModuleFileName() = 0;

  /// The platform id and version numbers of the running Windows; nothing when the query fails.
  virtual std::optional<OsVersion> WindowsVersion() = 0;

  /// The fixed file version of an executable or library; nothing when the file has no
  /// version information or it cannot be read.
  virtual std::optional<FileVersionWords> FixedFileVersion(const std::string& path) = 0;

  /// The year of the local date, for dates written without their year.
  virtual int CurrentYear() = 0;

  /// The user's current regional settings.
  virtual RegionalSettings Regional() = 0;

  /// Waits this long without doing anything.
  virtual void Pause(unsigned milliseconds) = 0;

  /// A thread for work beside the caller's (hashing while the caller writes); one that runs
  /// each task at once where the platform has none to give.
  virtual std::unique_ptr<Worker> MakeWorker() { return std::make_unique<InlineWorker>(); }
};

}  // namespace varno
