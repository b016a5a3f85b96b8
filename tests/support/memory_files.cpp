#include "support/memory_files.h"

#include <sstream>
#include <vector>

#include "base/ansi_text.h"

namespace varno::testing {
namespace {

std::string Key(const std::string& fullPath) { return AnsiUpperCase(fullPath); }

std::string ParentOf(const std::string& fullPath) {
  const size_t slash = fullPath.find_last_of('\\');
  if (slash == std::string::npos || fullPath.size() <= 3) return {};
  return slash == 2 ? fullPath.substr(0, 3) : fullPath.substr(0, slash);
}

bool IsDriveRoot(const std::string& fullPath) { return fullPath.size() == 3 && fullPath[1] == ':'; }

}  // namespace

MemoryFileSystem::MemoryFileSystem() { AddDirectory("C:\\"); }

std::string MemoryFileSystem::FullPath(const std::string& path) const {
  if (path.empty()) return {};
  std::string absolute;
  if (path.size() >= 2 && path[1] == ':') {
    absolute = path.size() == 2 ? path + "\\" : path;
    if (absolute[2] != '\\' && absolute[2] != '/') absolute = JoinPath(currentDirectory_, path.substr(2));
  } else if (path[0] == '\\' || path[0] == '/') {
    absolute = currentDirectory_.substr(0, 2) + path;
  } else {
    absolute = JoinPath(currentDirectory_, path);
  }
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 3; i <= absolute.size(); ++i) {
    if (i == absolute.size() || absolute[i] == '\\' || absolute[i] == '/') {
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += absolute[i];
    }
  }
  std::string full = std::string(1, AsciiUpper(absolute[0])) + ":\\";
  for (size_t i = 0; i < parts.size(); ++i) full += (i ? "\\" : "") + parts[i];
  return full;
}

MemoryFileSystem::Node* MemoryFileSystem::Find(const std::string& path) {
  auto it = nodes_.find(Key(FullPath(path)));
  return it == nodes_.end() ? nullptr : &it->second;
}

const MemoryFileSystem::Node* MemoryFileSystem::Find(const std::string& path) const {
  auto it = nodes_.find(Key(FullPath(path)));
  return it == nodes_.end() ? nullptr : &it->second;
}

bool MemoryFileSystem::ParentIsDirectory(const std::string& fullPath) const {
  const Node* parent = Find(ParentOf(fullPath));
  return parent && parent->isDirectory;
}

bool MemoryFileSystem::WriteAllowed(const std::string& fullPath, size_t size) {
  ++writes_;
  if (writes_ == failAtWrite_) return false;
  for (const auto& [dir, refused] : refusedDirectories_) {
    const std::string key = Key(fullPath);
    if (refused && key.starts_with(dir) && (key.size() == dir.size() || key[dir.size()] == '\\' || dir.back() == '\\')) {
      return false;
    }
  }
  if (freeSpace_ && size > *freeSpace_) return false;
  return true;
}

bool MemoryFileSystem::FileExists(const std::string& path) {
  const Node* node = Find(path);
  return node && !node->isDirectory;
}

bool MemoryFileSystem::DirectoryExists(const std::string& path) {
  const Node* node = Find(path);
  return node && node->isDirectory;
}

std::optional<std::string> MemoryFileSystem::ReadWholeFile(const std::string& path) {
  const Node* node = Find(path);
  if (!node || node->isDirectory) return std::nullopt;
  return node->data;
}

bool MemoryFileSystem::ReplaceWholeFile(const std::string& path, std::string_view bytes) {
  const std::string full = FullPath(path);
  if (full.empty() || IsDriveRoot(full) || !ParentIsDirectory(full)) return false;
  Node* existing = Find(full);
  if (existing && (existing->isDirectory || existing->readOnly || existing->inUse)) return false;
  const size_t previous = existing ? existing->data.size() : 0;
  if (!WriteAllowed(full, bytes.size())) return false;
  if (freeSpace_) *freeSpace_ = *freeSpace_ + previous - bytes.size();
  Node& node = nodes_[Key(full)];
  if (node.path.empty()) node.path = full;
  node.data.assign(bytes.data(), bytes.size());
  return true;
}

bool MemoryFileSystem::MoveFileTo(const std::string& from, const std::string& to) {
  const std::string source = FullPath(from);
  const std::string destination = FullPath(to);
  Node* node = Find(source);
  if (!node || node->isDirectory || node->inUse || destination.empty() || Find(destination) ||
      !ParentIsDirectory(destination) || !WriteAllowed(destination, 0)) {
    return false;
  }
  Node moved = *node;
  moved.path = destination;
  nodes_.erase(Key(source));
  nodes_[Key(destination)] = moved;
  return true;
}

bool MemoryFileSystem::RemoveFile(const std::string& path) {
  Node* node = Find(path);
  if (!node || node->isDirectory || node->readOnly || node->inUse) return false;
  if (freeSpace_) *freeSpace_ += node->data.size();
  nodes_.erase(Key(FullPath(path)));
  return true;
}

bool MemoryFileSystem::MakeDirectory(const std::string& path) {
  const std::string full = FullPath(path);
  if (full.empty() || Find(full) || !ParentIsDirectory(full) || !WriteAllowed(full, 0)) return false;
  nodes_[Key(full)] = Node{full, true, {}, false, false};
  return true;
}

void MemoryFileSystem::AddDirectory(const std::string& path) {
  const std::string full = FullPath(path);
  if (full.empty() || Find(full)) return;
  if (!IsDriveRoot(full)) AddDirectory(ParentOf(full));
  nodes_[Key(full)] = Node{full, true, {}, false, false};
}

void MemoryFileSystem::AddFile(const std::string& path, std::string_view bytes) {
  const std::string full = FullPath(path);
  AddDirectory(ParentOf(full));
  Node& node = nodes_[Key(full)];
  node.path = full;
  node.isDirectory = false;
  node.data.assign(bytes.data(), bytes.size());
}

void MemoryFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  if (Node* node = Find(path)) node->readOnly = readOnly;
}

void MemoryFileSystem::SetInUse(const std::string& path, bool inUse) {
  if (Node* node = Find(path)) node->inUse = inUse;
}

void MemoryFileSystem::SetCurrentDirectory(const std::string& path) {
  AddDirectory(path);
  currentDirectory_ = FullPath(path);
}

std::optional<std::string> MemoryFileSystem::Content(const std::string& path) const {
  const Node* node = Find(path);
  if (!node || node->isDirectory) return std::nullopt;
  return node->data;
}

std::vector<std::string> MemoryFileSystem::List(const std::string& directory) const {
  const std::string parent = FullPath(directory);
  std::vector<std::string> names;
  for (const auto& [key, node] : nodes_) {
    if (node.path != parent && AnsiSameText(ParentOf(node.path), parent)) {
      names.push_back(node.path.substr(node.path.find_last_of('\\') + 1));
    }
  }
  return names;
}

void MemoryFileSystem::RefuseWritesUnder(const std::string& directory) {
  refusedDirectories_[Key(FullPath(directory))] = true;
}

std::string MemoryFileSystem::Dump() const {
  std::ostringstream out;
  out << "current directory " << currentDirectory_ << "\n";
  for (const auto& [key, node] : nodes_) {
    out << (node.isDirectory ? "[dir]  " : "[file] ") << node.path;
    if (!node.isDirectory) out << " (" << node.data.size() << " bytes)";
    if (node.readOnly) out << " read-only";
    if (node.inUse) out << " in use";
    out << "\n";
  }
  return out.str();
}

}  // namespace varno::testing
