#pragma once

#include "platform/registry.h"

namespace varno::win32 {

// The registry through advapi32, in the view of a 32-bit program (HKLM\Software is the
// WOW6432Node branch on 64-bit Windows).
class Win32Registry : public Registry {
 public:
  long OpenKey(RegKey parent, const std::string& path, uint32_t access, bool create, RegKey* key) override;
  void CloseKey(RegKey key) override;
  long QueryValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) override;
  long SetValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) override;
  long DeleteValue(RegKey key, const std::string& name) override;
  long DeleteSubKey(RegKey key, const std::string& name) override;
  long SubKeyName(RegKey key, uint32_t index, std::string* name) override;
  long QueryRawValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) override;
  long SetRawValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) override;
  long FlushKey(RegKey key) override;
  long OpenAdministratorsKey(const std::string& path, bool create, RegKey* key) override;
};

}  // namespace varno::win32
