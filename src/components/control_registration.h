// The closing stages of a run: the product's ActiveX control copied into the system
// directory and registered, then the product's own database update.
#pragma once

#include <string>

#include "base/line_log.h"
#include "base/run_state.h"
#include "platform/platform.h"

namespace varno {

// Loads the COM server at path and calls its "DllRegisterServer"; only a status of 0 is
// success. A missing file does nothing; every failure raises, with the library freed.
void RegisterOCX(Platform& platform, const std::string& path);

// Replaces the control in the system directory by the installation's copy and registers
// it there, or registers it where it lies when the copy fails. Logs each stage.
void InstallControl(Platform& platform, const RunState& state, LineLog& log);

// Lets "VarnoUpDate.dll" of the installation bring the database up to date, unless the
// registry's "VarnoInst" says it is (15 or more in its low byte). A library that cannot be
// loaded or lacks "VarnoTableInstall" is a failed update.
bool SetUpDateTable(Platform& platform, const RunState& state);

}  // namespace varno
