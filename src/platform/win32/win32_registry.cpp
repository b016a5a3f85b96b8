#include "platform/win32/win32_registry.h"

#include "platform/win32/win32.h"

namespace varno::win32 {
namespace {

HKEY Native(RegKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

long Win32Registry::OpenKey(RegKey parent, const std::string& path, uint32_t access, bool create, RegKey* key) {
  HKEY opened = nullptr;
  const LONG status =
      create ? RegCreateKeyExA(Native(parent), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                               &opened, nullptr)
             : RegOpenKeyExA(Native(parent), path.c_str(), 0, access, &opened);
  *key = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(opened) : 0;
  return status;
}

void Win32Registry::CloseKey(RegKey key) {
  if (key != kHkeyLocalMachine && key != kHkeyCurrentUser) RegCloseKey(Native(key));
}

long Win32Registry::QueryValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) {
  // The size can change between the two calls when another program writes the value.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD valueType = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(Native(key), name.c_str(), nullptr, &valueType, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    std::string bytes(size, '\0');
    status = RegQueryValueExA(Native(key), name.c_str(), nullptr, &valueType,
                              reinterpret_cast<BYTE*>(bytes.data()), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return status;
    bytes.resize(size);
    *type = valueType;
    *data = std::move(bytes);
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

long Win32Registry::SetValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) {
  return RegSetValueExA(Native(key), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

long Win32Registry::DeleteValue(RegKey key, const std::string& name) {
  return RegDeleteValueA(Native(key), name.c_str());
}

long Win32Registry::DeleteSubKey(RegKey key, const std::string& name) {
  return RegDeleteKeyA(Native(key), name.c_str());
}

}  // namespace varno::win32
