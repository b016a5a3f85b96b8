// The in-memory registry: two hives, keys opened with access masks that every call checks,
// and refusals injected by hive, path and mask.
//
// What survives a power cut. Every change (a value written or deleted, a key created or
// deleted) is first in memory only. It reaches the disk when its key is flushed: FlushKey on
// the key that holds the value, on the parent of the key created or deleted (a change to a
// key that is not on the disk yet stays in memory until that key is). The system also
// flushes lazily, at any moment, writing the changes in the order they were made. So after
// a power cut the disk holds every change flushed before it and any prefix of the others
// (PowerCut). What a test sets up (AddKey, Put*) is on the disk at once.
//
// String values are kept as the bytes they were given: the ANSI and the exact (raw) calls
// read and write the same bytes, as the conversion between the code page and UTF-16 is not
// modelled.
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
  long SubKeyName(RegKey key, uint32_t index, std::string* name) override;
  long QueryRawValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) override {
    return QueryValue(key, name, type, data);
  }
  long SetRawValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) override {
    return SetValue(key, name, type, data);
  }
  long FlushKey(RegKey key) override;
  // Refused when a standard user made the key or may change it (OpenKey's checks otherwise).
  long OpenAdministratorsKey(const std::string& path, bool create, RegKey* key) override;

  // The key below HKEY_LOCAL_MACHINE (made when missing) is one a standard user made, or
  // whose access list lets them in: no administrators' key.
  void SetKeyOpenToUsers(const std::string& path);

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

  // The changes not on the disk yet, and the lazy flush of the first count of them.
  size_t UnflushedChanges() const { return unflushed_.size(); }
  void FlushLazily(size_t count);
  // The registry as the machine finds it when it starts again after a power cut now, the
  // lazy flush having written the first `kept` unflushed changes (0: none, at least
  // UnflushedChanges(): all). No key is open any more.
  void PowerCut(size_t kept);
  // Every key flushed so far, in order ("HKEY_LOCAL_MACHINE\\SOFTWARE\\...").
  const std::vector<std::string>& Flushes() const { return flushes_; }

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
  struct Change {
    enum Kind { WriteValue, RemoveValue, CreateKey, RemoveKey } kind;
    RegKey root;
    std::vector<std::string> key;  // the key flushing makes it durable: the value's, the parent's
    std::string name;              // the value's, the subkey's
    Value value;
  };
  struct Refusal {
    RegKey root;
    std::vector<std::string> path;
    uint32_t mask;
  };

  Node* Hive(RegKey root);
  Node* DurableHive(RegKey root) { return root == kHkeyLocalMachine ? &durableMachine_ : &durableUser_; }
  static bool Apply(Node* hive, const Change& change);
  void Record(Change change) { unflushed_.push_back(std::move(change)); }
  Node* Find(RegKey root, const std::vector<std::string>& path);
  const Node* Find(RegKey root, const std::vector<std::string>& path) const;
  static bool Matches(const std::vector<Refusal>& rules, RegKey root, const std::vector<std::string>& path,
                      uint32_t access);
  const OpenedKey* Opened(RegKey key) const;

  Node localMachine_{"HKEY_LOCAL_MACHINE", {}, {}};
  Node currentUser_{"HKEY_CURRENT_USER", {}, {}};
  Node durableMachine_ = localMachine_;
  Node durableUser_ = currentUser_;
  std::vector<Change> unflushed_;
  std::vector<std::string> flushes_;
  std::map<RegKey, OpenedKey> open_;
  std::vector<Refusal> refusals_;
  std::vector<Refusal> failedWrites_;
  RegKey nextKey_ = 0x100;
  std::vector<std::vector<std::string>> keysOpenToUsers_;
};

}  // namespace varno::fake
