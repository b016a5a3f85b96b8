// The version that Programs and Features (and every inventory that reads it) shows for the
// product: the DisplayVersion of the uninstall entries that describe this installation.
// The updater makes no entry of its own: a machine whose installer wrote none keeps none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/run_state.h"
#include "platform/platform.h"

namespace varno {

// The machine's uninstall entries, below HKEY_LOCAL_MACHINE in the program's view.
inline constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kDisplayVersionValue[] = "DisplayVersion";

// Whether an entry with these values describes the installation in installDir: its
// InstallLocation is that directory, or its DisplayIcon or UninstallString names a file
// inside it. Paths compare without regard to case; quotes, a trailing backslash, an icon
// index (",0") and the arguments of an uninstall command are allowed for.
bool DescribesInstallation(std::string_view installLocation, std::string_view displayIcon,
                           std::string_view uninstallString, const std::string& installDir);

// Sets the DisplayVersion of every entry that describes the installation to the package's
// version label, and gives the entries' key names. Nothing when the label is empty or no
// entry is found; a refused write raises, as any registry value's does.
std::vector<std::string> MjaDisplayVersion(Platform& platform, const RunState& state);

}  // namespace varno
