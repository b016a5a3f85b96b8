// The closing stages of a run: the product's ActiveX control copied into the system
// directory and registered, then the product's own database update.
#pragma once

#include <optional>
#include <string>

#include "base/line_log.h"
#include "base/run_state.h"
#include "components/signed_code.h"
#include "platform/platform.h"

namespace varno {

// Loads the COM server at path and calls its "DllRegisterServer"; only a status of 0 is
// success. A missing file does nothing; every failure raises, with the library freed.
void RegisterOCX(Platform& platform, const std::string& path);

// Replaces the control in the system directory by the installation's copy and registers
// it there, or registers it where it lies when the copy fails. Logs each stage. With a
// watch of the signed code (an updater built with the vendor's key), the installation's
// control is held and checked first, and copied or registered from that same handle.
void InstallControl(Platform& platform, const RunState& state, LineLog& log, SignedCodeWatch* signedCode = nullptr);

// The path of the database library in the installation.
std::string DatabaseLibraryPath(const RunState& state);

// Whether SetUpDateTable will call the library: the registry's "VarnoInst" says the
// database is not up to date (less than 15 in its low byte).
bool DatabaseNeedsUpdate(Platform& platform);

// Lets "VarnoUpDate.dll" of the installation bring the database up to date, unless the
// registry's "VarnoInst" says it is. A library that cannot be loaded or lacks
// "VarnoTableInstall" is a failed update. When held is given (an updater built with the
// vendor's key), only that checked and held file is ever loaded: without it, nothing is.
bool SetUpDateTable(Platform& platform, const RunState& state, const std::optional<HeldCode>* held = nullptr);

}  // namespace varno
