// The names a package may give the files and directories it puts into an installation: one
// set of rules for every command that writes or reads a package (create, build, check), so
// that what one accepts the others accept too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varno::pack {

// Why one component of a path cannot stand in the installation, or nothing: what the
// updater's archive reader refuses, then what Windows would change or refuse (a dot or a
// blank at the end, a device name such as NUL or COM1, whatever its extension), and for a
// directory what its "[subdir]" line would be read as (a blank or "[" at the start).
std::optional<std::string> CheckInstalledName(const std::string& name, bool directory);

// The same for a relative path, "\" or "/" separated: every component but the last is a
// directory. The problem is prefixed with the component at fault when the path has more
// than one. A directory's own path (a "[subdir]" line) has a directory for its last component.
std::optional<std::string> CheckInstalledPath(std::string_view path, bool directory = false);

// The length of the installation directory's path that packages are checked against
// unless told otherwise: that of C:\Program Files (x86)\Tolmerik\Varnolith.
inline constexpr int kDefaultInstallDirLength = 41;

// Why a path relative to the installation directory is too long for Windows' MAX_PATH
// (260 characters with the terminating NUL) once joined to a directory of that length, or
// nothing.
std::optional<std::string> CheckPathLength(std::string_view relative, int installDirLength);

}  // namespace varno::pack
