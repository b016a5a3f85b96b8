// The registry-access object every step uses: a root key, the access mask for the next
// open, and one current key that relative opens descend from. It turns the registry's
// status codes into the behaviour the updater defines: a quiet false for opens and
// deletions, a raised error with the system's French text for refused writes and values of
// the wrong type.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace varno {

class RegistryAccess {
 public:
  explicit RegistryAccess(Registry& registry);
  ~RegistryAccess();
  RegistryAccess(const RegistryAccess&) = delete;
  RegistryAccess& operator=(const RegistryAccess&) = delete;

  // Closes the current key, as a change of root does.
  void SetRootKey(RegKey root);
  void SetAccess(uint32_t access) { access_ = access; }

  // Opens the key with the access mask, creating it when asked. A path is relative to the
  // current key when one is open (so successive opens descend), to the root otherwise; a
  // leading "\" makes it start at the root. On success the new key replaces the current one.
  bool OpenKey(const std::string& path, bool canCreate);
  void CloseKey();
  bool HasCurrentKey() const { return current_ != 0; }

  bool ValueExists(const std::string& name);

  // A missing value reads as an empty string; a value that is no string raises
  // "Type de données incorrect pour '%s'".
  std::string ReadString(const std::string& name);

  // A value that is no 32-bit integer raises "Type de données incorrect pour '%s'"; one that
  // cannot be read at all raises "Echec à la lecture des données pour '%s'".
  int32_t ReadInteger(const std::string& name);

  // A write that the registry refuses raises "Echec à la définition des données pour '%s'".
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteBinaryData(const std::string& name, const std::string& bytes);

  bool DeleteValue(const std::string& name);

  // Deletes a key below the current key (or the root when none is open).
  bool DeleteKey(const std::string& path);

 private:
  bool Query(const std::string& name, uint32_t* type, std::string* data);
  void Write(const std::string& name, uint32_t type, const std::string& data);

  Registry& registry_;
  RegKey root_ = kHkeyCurrentUser;
  uint32_t access_ = kKeyAllAccess;
  RegKey current_ = 0;
};

// A string value of an open key up to its first NUL, an expandable one as it is stored
// (nothing expanded); empty when the value is absent, unreadable or of another type.
std::string StringValueOf(Registry& registry, RegKey key, const std::string& name);

}  // namespace varno
