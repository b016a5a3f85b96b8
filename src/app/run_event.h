// The outcome of each run in the machine's Application event log, where monitoring reads
// installations' outcomes: one event at the end of the run, under the updater's own source,
// whose messages are in the program (its message table).
#pragma once

#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace varno {

inline constexpr char kEventSource[] = "Varnolith MAJ";
inline constexpr char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Varnolith MAJ";
inline constexpr uint32_t kEventRunSucceeded = 1000;
inline constexpr uint32_t kEventRunFailed = 1001;

struct RunOutcome {
  ExitCode code = ExitCode::kSuccess;
  std::string versionBefore;  // as recorded when the run began; empty when none was found
  std::string versionAfter;   // as recorded when it ended
  std::string logPath;
  std::vector<std::string> fileHolders;  // the programs that held files to replace, described
};

// Registers the source with the program's own file as its message file, once: again only
// when the file it names is no longer there (a package copy removed since). False when the
// registry refuses it; the events are written all the same.
bool RegisterEventSource(Registry& registry, System& system, FileSystem& files);

// Writes the run's one event: information for 0, an error otherwise. An event log that
// cannot be written changes nothing of the run.
void ReportRunOutcome(EventLog& events, Registry& registry, System& system, FileSystem& files,
                      const RunOutcome& outcome);

}  // namespace varno
