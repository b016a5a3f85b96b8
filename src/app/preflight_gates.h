// The gates between the rights test and the first change: nothing has been written when
// they end a run.
#pragma once

#include "base/line_log.h"
#include "base/run_state.h"
#include "platform/platform.h"
#include "steps/update_preflight.h"

namespace varno {

// While files the package replaces are in use, asks the user to close the programs that
// hold them ("Avertissement", Réessayer/Annuler) and looks again. False on Annuler. With
// nobody to ask (unattended), looks again every second for at most kUnattendedWaitSeconds.
inline constexpr int kUnattendedWaitSeconds = 30;
bool WaitForFilesInUse(Platform& platform, const PlannedWrites& writes, LineLog& log, bool unattended);

// True when the volume of the installation has room for what the archives write; otherwise
// says how much is missing. A volume whose free space the system cannot tell passes.
bool EnoughDiskSpace(Platform& platform, const RunState& state, const PlannedWrites& writes, LineLog& log);

}  // namespace varno
