// A Varnolith installation and an update package on the in-memory machine, as the scenario
// tests of the driver need them.
#pragma once

#include <string>

#include "support/memory_machine.h"

namespace varno::fake {

inline constexpr char kTestInstallDir[] = "C:\\Program Files\\TolMerik\\Varnolith";
inline constexpr char kAppPathsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Varnolith.exe";
inline constexpr char kProductKey[] = "Software\\Tolmerik\\Varnolith";

// The product's files (Varnolith.exe with file version 2.8, the control, whose registration
// succeeds wherever it is loaded from, and the database library, whose update succeeds and
// raises "VarnoInst" to 15), its "Version" value and, when asked, its App Paths entry; and
// the updater's key for anchoring runs, as an earlier update left it.
void InstallProduct(MemoryMachine& machine, const std::string& dir = kTestInstallDir,
                    const std::string& version = "2816080", bool appPaths = true);

// MjaIni.ini in the package directory: a 21-line header bringing newVersion, then the
// sections given (CR LF line ends).
// The database level the product's library reached ("VarnoInst"), or -1 when unset.
int DatabaseLevel(MemoryMachine& machine);

void WritePackageDescription(MemoryMachine& machine, const std::string& newVersion,
                             const std::string& sections = "");

// The four "Shell Folders" values, in both roots, and their directories, laid out as on a
// recent Windows: the all-users desktop and Programs folder, and the user's (whose desktop
// is kTestDesktop).
inline constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr char kTestCommonDesktop[] = "C:\\Users\\Public\\Desktop";
inline constexpr char kTestCommonPrograms[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
inline constexpr char kTestUserPrograms[] = "C:\\Users\\Pierre\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
void AddShellFolders(MemoryMachine& machine);

}  // namespace varno::fake
