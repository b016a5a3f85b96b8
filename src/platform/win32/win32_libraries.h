#pragma once

#include "platform/libraries.h"
#include "platform/win32/win32.h"

namespace varno::win32 {

// Loads a library of the system directory by its full path, or gives nullptr. A library
// imported or loaded by its bare name, and not one of the system's known ones, is looked for
// beside the program first, where a package directory could hold a planted copy.
HMODULE LoadSystemLibrary(const char* name);

// An export as a function of the type the caller knows it has; nullptr when it is missing.
template <typename Function>
Function ExportOf(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

class Win32Libraries : public Libraries {
 public:
  LibraryHandle Load(const std::string& path) override;
  std::optional<uint32_t> CallExport(LibraryHandle library, const std::string& name) override;
  void Free(LibraryHandle library) override;
};

}  // namespace varno::win32
