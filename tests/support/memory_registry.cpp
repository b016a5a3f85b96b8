#include "support/memory_registry.h"

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

void DumpNode(std::ostringstream& out, const std::string& path, const auto& node) {
  out << "[" << path << "]\n";
  for (const auto& [key, named] : node.values) {
    out << "  " << named.first << " (type " << named.second.type << ") = ";
    if (named.second.type == kRegSz) {
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
  return kRegSuccess;
}

long MemoryRegistry::DeleteValue(RegKey key, const std::string& name) {
  const OpenedKey* opened = Opened(key);
  if (!opened) return kInvalidHandle;
  if (!(opened->access & kKeySetValue)) return kRegAccessDenied;
  Node* node = Find(opened->root, opened->path);
  if (!node) return kRegNotFound;
  return node->values.erase(AnsiUpperCase(name)) ? kRegSuccess : kRegNotFound;
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
  Find(root, std::vector<std::string>(path.begin(), path.end() - 1))->subkeys.erase(AnsiUpperCase(path.back()));
  return kRegSuccess;
}

void MemoryRegistry::AddKey(RegKey root, const std::string& path) {
  Node* node = Hive(root);
  for (const auto& part : SplitPath(path)) {
    node = &node->subkeys.emplace(AnsiUpperCase(part), Node{part, {}, {}}).first->second;
  }
}

void MemoryRegistry::PutValue(RegKey root, const std::string& path, const std::string& name, uint32_t type,
                              std::string data) {
  AddKey(root, path);
  Find(root, SplitPath(path))->values[AnsiUpperCase(name)] = {name, Value{type, std::move(data)}};
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

std::string MemoryRegistry::Dump() const {
  std::ostringstream out;
  DumpNode(out, localMachine_.name, localMachine_);
  DumpNode(out, currentUser_.name, currentUser_);
  out << open_.size() << " key(s) open\n";
  return out.str();
}

}  // namespace varno::fake
