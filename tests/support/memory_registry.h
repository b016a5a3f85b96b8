// The in-memory registry: two hives, keys opened with access masks that every call checks,
// and refusals injected by hive, path and mask.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace varno::fake {

// The DELETE right, which a deletion of a key needs.
inline constexpr uint32_t kKeyDelete = 0x00010000;

class MemoryRegistry : public Registry {
 public:
  long OpenKey(RegKey parent, const std::string& path, uint32_t access, bool create, RegKey* key) override;
  void CloseKey(RegKey key) override;
  long QueryValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) override;
  long SetValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) override;
  long DeleteValue(RegKey key, const std::string& name) override;
  long DeleteSubKey(RegKey key, const std::string& name) override;

  struct Value {
    uint32_t type = 0;
    std::string data;
  };

  // Set-up and inspection, outside any access check; paths are below a root.
  void AddKey(RegKey root, const std::string& path);
  void PutString(RegKey root, const std::string& path, const std::string& name, const std::string& value);
  void PutDword(RegKey root, const std::string& path, const std::string& name, uint32_t value);
  void PutValue(RegKey root, const std::string& path, const std::string& name, uint32_t type, std::string data);
  bool KeyExists(RegKey root, const std::string& path) const;
  std::optional<Value> Get(RegKey root, const std::string& path, const std::string& name) const;

  // Refuses, with kRegAccessDenied, every open at or below the path that asks for any bit of
  // the mask (kKeyCreateSubKey covers the creation of keys there, kKeyDelete their deletion).
  void Refuse(RegKey root, const std::string& path, uint32_t mask);

  // Makes every value write at or below the path fail, whatever the key's access mask (a
  // full hive, a policy that rejects the value).
  void FailWritesUnder(RegKey root, const std::string& path);

  // When it gives true for a value's name, the write of that value fails.
  std::function<bool(const std::string& name)> failSetValue;

  // Called on every value read, after the access check, to make a read give other data.
  std::function<void(const std::string& keyPath, const std::string& name, Value& value)> onRead;

  // The number of keys opened and not closed yet.
  size_t OpenKeys() const { return open_.size(); }
  // What the end of the process that opened them does.
  void CloseEveryKey() { open_.clear(); }

  std::string Dump() const;

 private:
  struct Node {
    std::string name;
    std::map<std::string, Node> subkeys;  // by upper-case name
    std::map<std::string, std::pair<std::string, Value>> values;
  };
  struct OpenedKey {
    RegKey root;
    std::vector<std::string> path;
    uint32_t access;
  };
  struct Refusal {
    RegKey root;
    std::vector<std::string> path;
    uint32_t mask;
  };

  Node* Hive(RegKey root);
  Node* Find(RegKey root, const std::vector<std::string>& path);
  const Node* Find(RegKey root, const std::vector<std::string>& path) const;
  static bool Matches(const std::vector<Refusal>& rules, RegKey root, const std::vector<std::string>& path,
                      uint32_t access);
  const OpenedKey* Opened(RegKey key) const;

  Node localMachine_{"HKEY_LOCAL_MACHINE", {}, {}};
  Node currentUser_{"HKEY_CURRENT_USER", {}, {}};
  std::map<RegKey, OpenedKey> open_;
  std::vector<Refusal> refusals_;
  std::vector<Refusal> failedWrites_;
  RegKey nextKey_ = 0x100;
};

}  // namespace varno::fake
