// The program's exit codes. They are Windows Installer's values, so that the deployment
// tools that start the updater without anyone present (Intune, Configuration Manager, Group
// Policy scripts) read them as they read an installer's: 0 success, 1618 retry later, the
// rest a failure of the kind named.
#pragma once

namespace varno {

enum class ExitCode : int {
  kSuccess = 0,
  // Non at a question, Annuler at a box.
  kUserDeclined = 1602,
  // The update failed and the installation was restored, or nothing had been changed yet
  // (missing rights, an installation older than the package accepts).
  kFailed = 1603,
  kNoInstallation = 1605,
  // Another update is running, or a product file is in use: the tool retries later.
  kTryAgainLater = 1618,
  // No package description, a refused archive, a package that fails its signature check.
  kPackageUnusable = 1620,
  // The log the command line names cannot be written: nothing was changed.
  kLogUnwritable = 1622,
  kPlatformRefused = 1633,
  kNewerVersionInstalled = 1638,
  kBadCommandLine = 1639,
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

}  // namespace varno
