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
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

// Value types, with their Windows values.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

// Status codes, with their Windows values.
inline constexpr long kRegSuccess = 0;
inline constexpr long kRegNotFound = 2;
inline constexpr long kRegAccessDenied = 5;
inline constexpr long kRegNoMoreItems = 259;

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

  /// The name of the subkey at index (from 0) of a key opened with kKeyEnumerateSubKeys
  /// (kKeyRead has it); kRegNoMoreItems past the last one. The order is the registry's own.
  virtual long SubKeyName(RegKey key, uint32_t index, std::string* name) = 0;

  /// The type and the bytes of a value exactly as the registry stores them: a string value
  /// (kRegSz, kRegExpandSz, kRegMultiSz) in UTF-16, with whatever length and zeros it was
  /// given; any other type as QueryValue gives it. kRegNotFound when the key has no such
  /// value; any other status is a read that failed and says nothing of the value.
  virtual long QueryRawValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) = 0;

  /// Creates or replaces a value with bytes that QueryRawValue gave: they are stored as
  /// they are, without conversion. Needs a key opened with kKeySetValue.
  virtual long SetRawValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) = 0;

  /// Returns once the changes made to the key (its values, the list of its subkeys) are on
  /// the disk. Until then a power cut may lose any of them, whatever the order in which they
  /// were made. A status other than kRegSuccess leaves them as uncertain as before.
  virtual long FlushKey(RegKey key) = 0;

  /// Opens a key below HKEY_LOCAL_MACHINE for reading and writing values, that only
  /// administrators and the system may read or change: with create, a missing key is made
  /// with an access list of its own that lets no other account in. A key that exists is
  /// opened only when it is still so (owned by the Administrators group, the system or the
  /// system's servicing account, and no other account may read or write it):
  /// kRegAccessDenied otherwise. A backend without access lists opens the key as OpenKey.
  virtual long OpenAdministratorsKey(const std::string& path, bool create, RegKey* key) {
    return OpenKey(kHkeyLocalMachine, path, kKeyQueryValue | kKeySetValue, create, key);
  }
};

}  // namespace varno
