// Finding the installed product, its versions, the version gate of the installation check,
// and the version record.
#pragma once

#include <functional>
#include <string>

#include "base/run_state.h"
#include "platform/platform.h"
#include "platform/system.h"

namespace varno {

// Reads the package header, finds the installation and checks its bounds. True when the
// installation was found, is recent enough and is not newer than the package. Sets the
// header values, installDir, installedVersion and fileVersionNumber of the state, which
// keep what was found even when the result is false. onFound, when given, is called with
// installDir as soon as it is known, before anything is read from the installation.
using InstallationFound = std::function<void(const std::string& installDir)>;
bool ValidControl(Platform& platform, RunState& state, const InstallationFound& onFound = nullptr);

// True when the installation found is older than the package accepts, by its recorded
// version or by its program's file version.
bool InstallationTooOld(const RunState& state);

// Finds installDir (App Paths, then the standard directories, then the user's choice),
// reads installedVersion and fileVersionNumber. True when the installation is complete.
bool FindInstallation(Platform& platform, RunState& state, const InstallationFound& onFound = nullptr);

// The standard installation directory that exists on the Windows drive, or the directory
// the user picks in the dialog (empty when cancelled).
std::string GuessInstallDir(Platform& platform);

// The installation as App Paths or the standard directories name it, without asking
// anyone; empty when neither names an existing directory.
std::string InstallDirWithoutAsking(Platform& platform);

// The file version words, both 0 when the file has no version information.
FileVersionWords ReadFileVersion(Platform& platform, const std::string& path);

// (major x 10 + minor) modulo 256, from the most significant version word.
uint8_t FileVersionNumberOf(const FileVersionWords& version);

// Records the package's version as the installed one in the product's registry key.
// A key that cannot be opened or created makes it do nothing; a refused write raises.
void WritePckname(Platform& platform, const RunState& state);

}  // namespace varno
