#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varno {

// An open registry key. The two roots the updater uses carry the values Windows gives them,
// so a root can stand wherever an open key can.
using RegKey = uintptr_t;
inline constexpr RegKey kHkeyCurrentUser = 0x80000001u;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002u;

// Access masks, with their Windows values.
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

// Value types, with their Windows values.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

// Status codes, with their Windows values.
inline constexpr long kRegSuccess = 0;
inline constexpr long kRegNotFound = 2;
inline constexpr long kRegAccessDenied = 5;

// The registry as a 32-bit program sees it. Every call reports the system's status code:
// kRegSuccess or the reason of the failure. Names compare without regard to case.
class Registry {
 public:
  virtual ~Registry() = default;

  /// Opens the key at path (one or more names separated by "\") below an open key or a
  /// root, with the access mask. With create, missing keys on the way are created (which
  /// needs the right to create subkeys). The new key must be closed with CloseKey.
  virtual long OpenKey(RegKey parent, const std::string& path, uint32_t access, bool create, RegKey* key) = 0;

  /// Closes a key that OpenKey gave; roots are never closed.
  virtual void CloseKey(RegKey key) = 0;

  /// The type and raw bytes of a value; kRegNotFound when the key has no such value.
  /// Needs a key opened with kKeyQueryValue. A string value's bytes include its zero.
  virtual long QueryValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) = 0;

  /// Creates or replaces a value. Needs a key opened with kKeySetValue.
  virtual long SetValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) = 0;

  /// Deletes a value. Needs a key opened with kKeySetValue.
  virtual long DeleteValue(RegKey key, const std::string& name) = 0;

  /// Deletes a subkey of an open key; a subkey that has subkeys of its own is refused.
  virtual long DeleteSubKey(RegKey key, const std::string& name) = 0;
};

}  // namespace varno
