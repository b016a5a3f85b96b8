#pragma once

#include <string>

namespace varno {

inline constexpr int kCsidlDesktop = 0x0000;

// The Windows shell: special folders now; shortcuts join it later.
class Shell {
 public:
  virtual ~Shell() = default;

  /// The file-system path of the shell folder with this CSIDL number, in the system's
  /// 8-bit code page, as the shell gives it. Empty when the shell has no path for it.
  virtual std::string SpecialFolderPath(int csidl) = 0;
};

}  // namespace varno
