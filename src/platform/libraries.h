#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varno {

// A loaded library; 0 is none.
using LibraryHandle = uintptr_t;

// Product libraries, always loaded by their full path.
class Libraries {
 public:
  virtual ~Libraries() = default;

  /// Loads the library at this full path; 0 when it cannot be loaded.
  virtual LibraryHandle Load(const std::string& path) = 0;

  /// Calls an export that takes no arguments and returns a 32-bit value, and gives that
  /// value; nothing when the library has no such export (the call is then never made).
  virtual std::optional<uint32_t> CallExport(LibraryHandle library, const std::string& name) = 0;

  /// Frees a library that Load gave.
  virtual void Free(LibraryHandle library) = 0;
};

}  // namespace varno
