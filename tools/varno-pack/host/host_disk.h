// host/: the machine the tool runs on: its disk and directories, its text, the terminal's progress line and Ctrl+C.
// The disk of the machine the tool runs on, reached through the updater's own file
// service: the Win32 one on Windows, the Linux one elsewhere. The commands see Windows paths
// in Windows-1252 whatever the host, as the updater's code does.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace varno::pack {

class HostDisk {
 public:
  virtual ~HostDisk() = default;

  // The disk, or nothing and the reason when it cannot be reached.
  static std::unique_ptr<HostDisk> Open(std::string& problem);

  virtual FileSystem& Files() = 0;

  // The Windows path of a path the user gave (in Windows-1252, see ArgumentText).
  virtual std::string WindowsPath(std::string_view hostPath) const = 0;
};

// A command-line argument in Windows-1252: on Linux it arrives as UTF-8 and is converted,
// nothing when it holds a character the updater's code page cannot write; on Windows an
// ANSI program receives it in its code page already.
std::optional<std::string> ArgumentText(std::string_view argument);

}  // namespace varno::pack
