#include "platform/win32/win32_registry.h"

#include <aclapi.h>

#include "platform/win32/win32.h"
#include "platform/win32/win32_file_protection.h"

namespace varno::win32 {
namespace {

HKEY Native(RegKey key) { return reinterpret_cast<HKEY>(key); }

// Value names are converted as the A functions convert them, so both reach the same value.
std::wstring WideName(const std::string& name) {
  const int length = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(), length);
  wide.resize(wide.size() - 1);
  return wide;
}

// Reads a value whose size can change between the size query and the read, when another
// program writes it meanwhile.
template <typename Query>
long QueryGrowing(Query query, uint32_t* type, std::string* data) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD valueType = 0;
    DWORD size = 0;
    LONG status = query(&valueType, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    std::string bytes(size, '\0');
    status = query(&valueType, reinterpret_cast<BYTE*>(bytes.data()), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return status;
    bytes.resize(size);
    *type = valueType;
    *data = std::move(bytes);
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

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
  return QueryGrowing(
      [&](DWORD* valueType, BYTE* bytes, DWORD* size) {
        return RegQueryValueExA(Native(key), name.c_str(), nullptr, valueType, bytes, size);
      },
      type, data);
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

long Win32Registry::SubKeyName(RegKey key, uint32_t index, std::string* name) {
  // A key name is at most 255 characters.
  char buffer[256];
  DWORD size = sizeof(buffer);
  const LONG status = RegEnumKeyExA(Native(key), index, buffer, &size, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) name->assign(buffer, size);
  return status;
}

long Win32Registry::QueryRawValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) {
  // The W function hands string values over as they are stored; the A one converts them to
  // the ANSI code page, which loses every character outside it and an odd last byte.
  const std::wstring wide = WideName(name);
  return QueryGrowing(
      [&](DWORD* valueType, BYTE* bytes, DWORD* size) {
        return RegQueryValueExW(Native(key), wide.c_str(), nullptr, valueType, bytes, size);
      },
      type, data);
}

long Win32Registry::SetRawValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) {
  // For a string type, RegSetValueExW adds a terminating zero the caller seems to have left
  // out of the count: when the last character counted is not zero and the one after the
  // data is. Two non-zero bytes after the data keep the value at exactly its own bytes.
  std::string padded(data);
  padded.append(2, '\xFF');
  return RegSetValueExW(Native(key), WideName(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(padded.data()),
                        static_cast<DWORD>(data.size()));
}

long Win32Registry::FlushKey(RegKey key) { return RegFlushKey(Native(key)); }

long Win32Registry::OpenAdministratorsKey(const std::string& path, bool create, RegKey* key) {
  *key = 0;
  const REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE | READ_CONTROL;
  HKEY opened = nullptr;
  LONG status = ERROR_SUCCESS;
  if (create) {
    // Made with its protection in the same call, so no other account can open it between
    // its creation and its protection.
    ProtectedDescriptor protection(KEY_ALL_ACCESS);
    if (!protection.Valid()) return ERROR_ACCESS_DENIED;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), protection.Get(), FALSE};
    status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, &attributes,
                             &opened, nullptr);
  } else {
    status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &opened);
  }
  if (status != ERROR_SUCCESS) return status;
  // A key that was there already may be one a user made first, where the vendor's key
  // lets users create keys: what it holds would then be theirs.
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool trusted = false;
  if (GetSecurityInfo(opened, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
    trusted = TrustedOwnerAndAccess(owner, dacl, true);
    LocalFree(descriptor);
  }
  if (!trusted) {
    RegCloseKey(opened);
    return ERROR_ACCESS_DENIED;
  }
  *key = reinterpret_cast<RegKey>(opened);
  return ERROR_SUCCESS;
}

}  // namespace varno::win32
