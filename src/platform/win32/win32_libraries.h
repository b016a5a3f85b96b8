#pragma once

#include "platform/libraries.h"

namespace varno::win32 {

class Win32Libraries : public Libraries {
 public:
  LibraryHandle Load(const std::string& path) override;
  std::optional<uint32_t> CallExport(LibraryHandle library, const std::string& name) override;
  void Free(LibraryHandle library) override;
};

}  // namespace varno::win32
