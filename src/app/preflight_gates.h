// The gates between the rights test and the first change: nothing has been written when
// they end a run.
#pragma once

#include "app/command_line.h"
#include "app/program_closing.h"
#include "base/line_log.h"
#include "base/run_state.h"
#include "platform/platform.h"
#include "steps/update_preflight.h"

namespace varno {

// While files the package replaces are in use, names the programs that hold them, asks the
// user to close them ("Avertissement": Fermer les programmes when they are known, Réessayer,
// Annuler) and looks again. False on Annuler. With closeApplications the holders are asked
// to end first, without a question. With nobody to ask (quiet), looks again every second for
// at most kUnattendedWaitSeconds. The programs the run closed are kept in holders.
inline constexpr int kUnattendedWaitSeconds = 30;
bool WaitForFilesInUse(Platform& platform, const PlannedWrites& writes, LineLog& log, const RunOptions& options,
                       HoldersOfTheRun& holders);

// True when the volume of the installation has room for what the archives write; otherwise
// says how much is missing. A volume whose free space the system cannot tell passes.
bool EnoughDiskSpace(Platform& platform, const RunState& state, const PlannedWrites& writes, LineLog& log);

}  // namespace varno
