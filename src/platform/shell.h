#pragma once

#include <string>

namespace varno {

inline constexpr int kCsidlDesktop = 0x0000;

// What a shortcut made through the shell's link object is given.
struct ShellLinkFields {
  std::string target;
  std::string arguments;  // set on the link only when not empty
  std::string workingDirectory;
};

// How a save through the shell's link object ended.
enum class LinkSave {
  Saved,         // the save reported S_OK
  NotSaved,      // any other save result: a missing folder, a refused file, S_FALSE
  NoLinkObject,  // the link object, or one of its interfaces, could not be had
};

// The Windows shell: special folders and shortcuts.
class Shell {
 public:
  virtual ~Shell() = default;

  /// The file-system path of the shell folder with this CSIDL number, in the system's
  /// 8-bit code page, as the shell gives it. Empty when the shell has no path for it.
  virtual std::string SpecialFolderPath(int csidl) = 0;

  /// Creates the shell's link object, gives it the fields and saves it as linkPath (passed
  /// to the shell in UTF-16), replacing any file of that name. The folder is never
  /// created: a missing one gives NotSaved. With NoLinkObject nothing was written.
  virtual LinkSave SaveShellLink(const ShellLinkFields& link, const std::string& linkPath) = 0;
};

}  // namespace varno
