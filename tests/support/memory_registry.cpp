#include "support/memory_registry.h"

#include <algorithm>
#include <sstream>

#include "base/ansi_text.h"

namespace varno::fake {
namespace {

constexpr long kInvalidHandle = 6;

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path + "\\") {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  return parts;
}

std::string JoinParts(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& part : parts) out += (out.empty() ? "" : "\\") + part;
  return out;
}

bool IsRoot(RegKey key) { return key == kHkeyLocalMachine || key == kHkeyCurrentUser; }

bool SamePath(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!AnsiSameText(a[i], b[i])) return false;
  }
  return true;
}

std::string HiveName(RegKey root) { return root == kHkeyCurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE"; }

// A string shows as text only when it is text and one zero; anything else, every byte.
bool PlainString(const std::string& data) {
  return !data.empty() && data.find('\0') == data.size() - 1;
}

void DumpNode(std::ostringstream& out, const std::string& path, const auto& node) {
  out << "[" << path << "]\n";
  for (const auto& [key, named] : node.values) {
    out << "  " << named.first << " (type " << named.second.type << ") = ";
    if (named.second.type == kRegSz && PlainString(named.second.data)) {
      out << '"' << named.second.data.c_str() << '"';
    } else {
      for (unsigned char b : named.second.data) out << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 15] << ' ';
    }
    out << "\n";
  }
  for (const auto& [key, child] : node.subkeys) DumpNode(out, path + "\\" + child.name, child);
}

}  // namespace

MemoryRegistry::Node* MemoryRegistry::Hive(RegKey root) {
  return root == kHkeyLocalMachine ? &localMachine_ : root == kHkeyCurrentUser ? &currentUser_ : nullptr;
}

MemoryRegistry::Node* MemoryRegistry::Find(RegKey root, const std::vector<std::string>& path) {
  Node* node = Hive(root);
  for (const auto& part : path) {
    if (!node) return nullptr;
    auto it = node->subkeys.find(AnsiUpperCase(part));
    node = it == node->subkeys.end() ? nullptr : &it->second;
  }
  return node;
}

const MemoryRegistry::Node* MemoryRegistry::Find(RegKey root, const std::vector<std::string>& path) const {
  return const_cast<MemoryRegistry*>(this)->Find(root, path);
}

bool MemoryRegistry::Matches(const std::vector<Refusal>& rules, RegKey root, const std::vector<std::string>& path,
                             uint32_t access) {
  for (const Refusal& refusal : rules) {
    if (refusal.root != root || !(refusal.mask & access) || refusal.path.size() > path.size()) continue;
    bool below = true;
    for (size_t i = 0; i < refusal.path.size() && below; ++i) below = AnsiSameText(refusal.path[i], path[i]);
    if (below) return true;
  }
  return false;
}

const MemoryRegistry::OpenedKey* MemoryRegistry::Opened(RegKey key) const {
  auto it = open_.find(key);
  return it == open_.end() ? nullptr : &it->second;
}

long MemoryRegistry::OpenKey(RegKey parent, const std::string& path, uint32_t access, bool create, RegKey* key) {
  *key = 0;
  OpenedKey opened{parent, {}, access};
  if (!IsRoot(parent)) {
    const OpenedKey* base = Opened(parent);
    if (!base) return kInvalidHandle;
    opened.root = base->root;
    opened.path = base->path;
  }
  for (const auto& part : SplitPath(path)) opened.path.push_back(part);
  if (Matches(refusals_, opened.root, opened.path, access)) return kRegAccessDenied;

  Node* node = Hive(opened.root);
  for (size_t i = 0; i < opened.path.size(); ++i) {
    const std::string upper = AnsiUpperCase(opened.path[i]);
    auto it = node->subkeys.find(upper);
    if (it == node->subkeys.end()) {
      if (!create) return kRegNotFound;
      const std::vector<std::string> created(opened.path.begin(), opened.path.begin() + static_cast<long>(i) + 1);
      if (Matches(refusals_, opened.root, created, kKeyCreateSubKey)) return kRegAccessDenied;
      it = node->subkeys.emplace(upper, Node{opened.path[i], {}, {}}).first;
      Record({Change::CreateKey, opened.root, std::vector<std::string>(created.begin(), created.end() - 1),
              opened.path[i], {}});
    }
    node = &it->second;
  }
  *key = nextKey_++;
  open_[*key] = opened;
  return kRegSuccess;
}

void MemoryRegistry::CloseKey(RegKey key) { open_.erase(key); }

long MemoryRegistry::QueryValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) {
  const OpenedKey* opened = Opened(key);
  if (!opened) return kInvalidHandle;
  if (!(opened->access & kKeyQueryValue)) return kRegAccessDenied;
  Node* node = Find(opened->root, opened->path);
  if (!node) return kRegNotFound;
  auto it = node->values.find(AnsiUpperCase(name));
  if (it == node->values.end()) return kRegNotFound;
  Value value = it->second.second;
  if (onRead) onRead(JoinParts(opened->path), name, value);
  *type = value.type;
  *data = value.data;
  return kRegSuccess;
}

long MemoryRegistry::SetValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) {
  const OpenedKey* opened = Opened(key);
  if (!opened) return kInvalidHandle;
  if (!(opened->access & kKeySetValue) || Matches(failedWrites_, opened->root, opened->path, kKeySetValue) ||
      (failSetValue && failSetValue(name))) {
    return kRegAccessDenied;
  }
  Node* node = Find(opened->root, opened->path);
  if (!node) return kRegNotFound;
  node->values[AnsiUpperCase(name)] = {name, Value{type, std::string(data)}};
  Record({Change::WriteValue, opened->root, opened->path, name, Value{type, std::string(data)}});
  return kRegSuccess;
}

long MemoryRegistry::DeleteValue(RegKey key, const std::string& name) {
  const OpenedKey* opened = Opened(key);
  if (!opened) return kInvalidHandle;
  if (!(opened->access & kKeySetValue)) return kRegAccessDenied;
  Node* node = Find(opened->root, opened->path);
  if (!node) return kRegNotFound;
  if (!node->values.erase(AnsiUpperCase(name))) return kRegNotFound;
  Record({Change::RemoveValue, opened->root, opened->path, name, {}});
  return kRegSuccess;
}

long MemoryRegistry::DeleteSubKey(RegKey key, const std::string& name) {
  std::vector<std::string> path;
  RegKey root = key;
  if (!IsRoot(key)) {
    const OpenedKey* opened = Opened(key);
    if (!opened) return kInvalidHandle;
    root = opened->root;
    path = opened->path;
  }
  Node* parent = Find(root, path);
  for (const auto& part : SplitPath(name)) path.push_back(part);
  Node* child = Find(root, path);
  if (!parent || !child) return kRegNotFound;
  if (!child->subkeys.empty() || Matches(refusals_, root, path, kKeyDelete)) return kRegAccessDenied;
  const std::vector<std::string> holder(path.begin(), path.end() - 1);
  Find(root, holder)->subkeys.erase(AnsiUpperCase(path.back()));
  Record({Change::RemoveKey, root, holder, path.back(), {}});
  return kRegSuccess;
}

long MemoryRegistry::SubKeyName(RegKey key, uint32_t index, std::string* name) {
  std::vector<std::string> path;
  RegKey root = key;
  if (!IsRoot(key)) {
    const OpenedKey* opened = Opened(key);
    if (!opened) return kInvalidHandle;
    if (!(opened->access & kKeyEnumerateSubKeys)) return kRegAccessDenied;
    root = opened->root;
    path = opened->path;
  }
  const Node* node = Find(root, path);
  if (!node) return kRegNotFound;
  if (index >= node->subkeys.size()) return kRegNoMoreItems;
  *name = std::next(node->subkeys.begin(), index)->second.name;
  return kRegSuccess;
}

void MemoryRegistry::AddKey(RegKey root, const std::string& path) {
  for (Node* node : {Hive(root), DurableHive(root)}) {
    for (const auto& part : SplitPath(path)) {
      node = &node->subkeys.emplace(AnsiUpperCase(part), Node{part, {}, {}}).first->second;
    }
  }
}

void MemoryRegistry::PutValue(RegKey root, const std::string& path, const std::string& name, uint32_t type,
                              std::string data) {
  AddKey(root, path);
  Find(root, SplitPath(path))->values[AnsiUpperCase(name)] = {name, Value{type, data}};
  Apply(DurableHive(root), {Change::WriteValue, root, SplitPath(path), name, Value{type, std::move(data)}});
}

void MemoryRegistry::PutString(RegKey root, const std::string& path, const std::string& name,
                               const std::string& value) {
  PutValue(root, path, name, kRegSz, value + '\0');
}

void MemoryRegistry::PutDword(RegKey root, const std::string& path, const std::string& name, uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  PutValue(root, path, name, kRegDword, bytes);
}

bool MemoryRegistry::KeyExists(RegKey root, const std::string& path) const {
  return Find(root, SplitPath(path)) != nullptr;
}

std::optional<MemoryRegistry::Value> MemoryRegistry::Get(RegKey root, const std::string& path,
                                                         const std::string& name) const {
  const Node* node = Find(root, SplitPath(path));
  if (!node) return std::nullopt;
  auto it = node->values.find(AnsiUpperCase(name));
  if (it == node->values.end()) return std::nullopt;
  return it->second.second;
}

void MemoryRegistry::Refuse(RegKey root, const std::string& path, uint32_t mask) {
  refusals_.push_back({root, SplitPath(path), mask});
}

void MemoryRegistry::FailWritesUnder(RegKey root, const std::string& path) {
  failedWrites_.push_back({root, SplitPath(path), kKeySetValue});
}

bool MemoryRegistry::Apply(Node* hive, const Change& change) {
  Node* node = hive;
  for (const auto& part : change.key) {
    auto it = node->subkeys.find(AnsiUpperCase(part));
    if (it == node->subkeys.end()) return false;
    node = &it->second;
  }
  const std::string upper = AnsiUpperCase(change.name);
  switch (change.kind) {
    case Change::WriteValue: node->values[upper] = {change.name, change.value}; break;
    case Change::RemoveValue: node->values.erase(upper); break;
    case Change::CreateKey: node->subkeys.emplace(upper, Node{change.name, {}, {}}); break;
    case Change::RemoveKey: node->subkeys.erase(upper); break;
  }
  return true;
}

long MemoryRegistry::FlushKey(RegKey key) {
  RegKey root = key;
  std::vector<std::string> path;
  if (!IsRoot(key)) {
    const OpenedKey* opened = Opened(key);
    if (!opened) return kInvalidHandle;
    root = opened->root;
    path = opened->path;
  }
  flushes_.push_back(HiveName(root) + (path.empty() ? "" : "\\" + JoinParts(path)));
  std::vector<Change> left;
  for (Change& change : unflushed_) {
    const bool ofThisKey = change.root == root && SamePath(change.key, path);
    if (!ofThisKey || !Apply(DurableHive(root), change)) left.push_back(std::move(change));
  }
  unflushed_ = std::move(left);
  return kRegSuccess;
}

void MemoryRegistry::FlushLazily(size_t count) {
  count = std::min(count, unflushed_.size());
  // A change whose key never reached the disk is lost with it.
  for (size_t i = 0; i < count; ++i) Apply(DurableHive(unflushed_[i].root), unflushed_[i]);
  unflushed_.erase(unflushed_.begin(), unflushed_.begin() + static_cast<long>(count));
}

void MemoryRegistry::PowerCut(size_t kept) {
  FlushLazily(kept);
  unflushed_.clear();
  localMachine_ = durableMachine_;
  currentUser_ = durableUser_;
  open_.clear();
}

std::string MemoryRegistry::Dump() const {
  std::ostringstream out;
  DumpNode(out, localMachine_.name, localMachine_);
  DumpNode(out, currentUser_.name, currentUser_);
  out << open_.size() << " key(s) open\n";
  return out.str();
}

}  // namespace varno::fake

namespace varno::fake {

long MemoryRegistry::OpenAdministratorsKey(const std::string& path, bool create, RegKey* key) {
  std::vector<std::string> wanted;
  for (const auto& part : SplitPath(path)) wanted.push_back(AnsiUpperCase(part));
  for (const auto& open : keysOpenToUsers_) {
    if (open == wanted) {
      *key = 0;
      return kRegAccessDenied;
    }
  }
  return OpenKey(kHkeyLocalMachine, path, kKeyQueryValue | kKeySetValue, create, key);
}

void MemoryRegistry::SetKeyOpenToUsers(const std::string& path) {
  AddKey(kHkeyLocalMachine, path);
  std::vector<std::string> key;
  for (const auto& part : SplitPath(path)) key.push_back(AnsiUpperCase(part));
  keysOpenToUsers_.push_back(key);
}

}  // namespace varno::fake
