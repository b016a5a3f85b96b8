#include "support/memory_files.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <vector>

#include "base/ansi_text.h"
#include "support/bytes_input.h"

namespace varno::fake {
namespace {

std::string Folded(const std::string& fullPath) { return AnsiUpperCase(fullPath); }

}  // namespace

MemoryFileSystem::MemoryFileSystem() { AddDirectory("C:\\"); }

std::string MemoryFileSystem::FullPath(const std::string& path) const { return varno::FullPath(path, currentDirectory_); }

std::string MemoryFileSystem::KeyOf(const std::string& path) const { return Folded(FullPath(path)); }

MemoryFileSystem::Node* MemoryFileSystem::Find(const std::string& path) {
  auto it = nodes_.find(KeyOf(path));
  return it == nodes_.end() ? nullptr : &it->second;
}

const MemoryFileSystem::Node* MemoryFileSystem::Find(const std::string& path) const {
  auto it = nodes_.find(KeyOf(path));
  return it == nodes_.end() ? nullptr : &it->second;
}

bool MemoryFileSystem::ParentIsDirectory(const std::string& fullPath) const {
  const Node* parent = Find(ParentOf(fullPath));
  return parent && parent->isDirectory;
}

bool MemoryFileSystem::Refused(const std::string& fullPath) const {
  const std::string key = Folded(fullPath);
  for (const auto& [dir, refused] : refusedDirectories_) {
    if (refused && key.starts_with(dir) && (key.size() == dir.size() || key[dir.size()] == '\\' || dir.back() == '\\')) {
      return true;
    }
  }
  return false;
}

bool MemoryFileSystem::Allocate(size_t bytes) {
  if (freeSpace_ && bytes > *freeSpace_) return false;
  if (freeSpace_) *freeSpace_ -= bytes;
  return true;
}

bool MemoryFileSystem::DiskFillsAt(const std::string& target, uint64_t size) {
  if (fillWhile_.empty() || !AnsiUpperCase(target).ends_with(fillWhile_) || size <= fillAfter_) return false;
  fillWhile_.clear();
  return true;
}

void MemoryFileSystem::Release(size_t bytes) {
  if (freeSpace_) *freeSpace_ += bytes;
}

bool MemoryFileSystem::FileExists(const std::string& path) {
  const Node* node = Find(path);
  return node && !node->isDirectory;
}

bool MemoryFileSystem::DirectoryExists(const std::string& path) {
  const Node* node = Find(path);
  return node && node->isDirectory;
}

// Held files cannot be erased or replaced, so the node outlives the holder.
class HeldMemoryInputFile : public BytesInput {
 public:
  HeldMemoryInputFile(MemoryFileSystem& files, std::string path, std::string data)
      : BytesInput(std::move(data)), files_(files), path_(std::move(path)) {}
  ~HeldMemoryInputFile() override {
    if (auto* node = files_.Find(path_)) --node->heldAgainstWriters;
  }

 private:
  MemoryFileSystem& files_;
  std::string path_;
};

class MemoryOutputFile : public OutputFile {
 public:
  MemoryOutputFile(MemoryFileSystem& files, std::string temporary, std::string target)
      : files_(files), temporary_(std::move(temporary)), target_(std::move(target)) {}
  ~MemoryOutputFile() override {
    if (!committed_) files_.Discard(temporary_);
  }
  bool Write(const char* data, size_t size) override {
    MemoryFileSystem::Node* node = files_.Find(temporary_);
    if (failed_ || !node || files_.DiskFillsAt(target_, node->data.size() + size) || !files_.Allocate(size)) {
      // The replacement cannot commit any more; the file it would replace stays as it was.
      failed_ = true;
      return false;
    }
    node->data.append(data, size);
    return true;
  }
  bool Commit() override {
    if (failed_ || committed_) return false;
    MemoryFileSystem::Node* node = files_.Find(temporary_);
    if (!node) return false;
    // Flushed, then renamed through to the disk.
    node->durable = node->data;
    committed_ = files_.Commit(temporary_, target_);
    if (committed_) files_.Flushed(*files_.Find(target_));
    return committed_;
  }

 private:
  MemoryFileSystem& files_;
  std::string temporary_;
  std::string target_;
  bool failed_ = false;
  bool committed_ = false;
};

std::unique_ptr<InputFile> MemoryFileSystem::OpenForReading(const std::string& path) {
  const Node* node = Find(path);
  if (!node || node->isDirectory || node->inUse) return nullptr;
  return std::make_unique<BytesInput>(node->data);
}

std::unique_ptr<InputFile> MemoryFileSystem::OpenHeldAgainstWriters(const std::string& path) {
  Node* node = Find(path);
  if (!node || node->isDirectory || node->inUse) return nullptr;
  ++node->heldAgainstWriters;
  return std::make_unique<HeldMemoryInputFile>(*this, FullPath(path), node->data);
}

bool MemoryFileSystem::HeldAgainstWriters(const std::string& path) const {
  const Node* node = Find(path);
  return node && node->heldAgainstWriters > 0;
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateReplacement(const std::string& path) {
  const std::string target = FullPath(path);
  if (target.empty() || ParentOf(target).empty()) return nullptr;
  return CreateReplacementNamed(
      path, JoinPath(WithoutTrailingBackslash(ParentOf(target)), "vrn" + std::to_string(++temporaries_) + ".tmp"));
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateReplacementNamed(const std::string& path,
                                                                     const std::string& temporary) {
  const std::string target = FullPath(path);
  const std::string full = FullPath(temporary);
  if (target.empty() || ParentOf(target).empty() || !ParentIsDirectory(target) || Refused(target)) return nullptr;
  if (full.empty() || Find(full) || !ParentIsDirectory(full) || Refused(full)) return nullptr;
  nodes_[KeyOf(full)] = Node{full, false, {}, false, false};
  return std::make_unique<MemoryOutputFile>(*this, full, target);
}

bool MemoryFileSystem::RemoveAtRestart(const std::string& path) {
  if (refuseRemovalAtRestart || !Find(path)) return false;
  removalsAtRestart.push_back(FullPath(path));
  return true;
}

uint64_t MemoryFileSystem::UnpredictableNumber() {
  uint64_t z = (unpredictable_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// "C:" for a path on a drive, "\\SERVER\SHARE" on a share: what one log covers.
std::string MemoryFileSystem::VolumeOf(const std::string& key) {
  if (key.size() >= 2 && key[1] == ':') return key.substr(0, 2);
  if (!key.starts_with("\\\\")) return {};
  const size_t share = key.find('\\', 2);
  return key.substr(0, share == std::string::npos ? key.size() : key.find('\\', share + 1));
}

void MemoryFileSystem::SnapshotVolume(const std::string& volume) {
  std::erase_if(atLastFlush_, [&](const auto& entry) { return VolumeOf(entry.first) == volume; });
  for (const auto& [key, node] : nodes_) {
    if (VolumeOf(key) == volume) atLastFlush_[key] = node;
  }
}

void MemoryFileSystem::Flushed(Node& node) {
  node.durable = node.data;
  SnapshotVolume(VolumeOf(Folded(node.path)));
}

MemoryFileSystem MemoryFileSystem::AfterProcessDeath() const {
  MemoryFileSystem after = *this;
  for (auto& [key, node] : after.nodes_) node.heldAgainstWriters = 0;
  return after;
}

MemoryFileSystem MemoryFileSystem::AfterPowerCut(PowerCut cut) const { return AfterPowerCut({}, cut); }

MemoryFileSystem MemoryFileSystem::AfterPowerCut(const std::map<std::string, PowerCut>& volumes,
                                                 PowerCut others) const {
  MemoryFileSystem after = AfterProcessDeath();
  const auto cutOf = [&](const std::string& key) {
    const auto known = volumes.find(VolumeOf(key));
    return known == volumes.end() ? others : known->second;
  };
  std::erase_if(after.nodes_, [&](const auto& entry) { return cutOf(entry.first) == PowerCut::Worst; });
  for (const auto& [key, node] : atLastFlush_) {
    if (cutOf(key) == PowerCut::Worst) after.nodes_[key] = node;
  }
  for (auto& [key, node] : after.nodes_) {
    node.heldAgainstWriters = 0;
    node.data = node.durable;
  }
  after.atLastFlush_ = after.nodes_;
  return after;
}

bool MemoryFileSystem::Commit(const std::string& temporary, const std::string& target) {
  Node* existing = Find(target);
  ++writes_;
  if (writes_ == failAtWrite_ || (existing && (existing->isDirectory || existing->readOnly || existing->inUse ||
                                        existing->heldAgainstWriters > 0))) {
    return false;
  }
  if (existing) Release(existing->data.size());
  Node moved = nodes_[KeyOf(temporary)];
  moved.path = existing ? existing->path : target;
  nodes_.erase(KeyOf(temporary));
  nodes_[KeyOf(target)] = moved;
  return true;
}

void MemoryFileSystem::Discard(const std::string& temporary) {
  if (Node* node = Find(temporary)) {
    Release(node->data.size());
    nodes_.erase(KeyOf(temporary));
  }
}

bool MemoryFileSystem::MoveFileTo(const std::string& from, const std::string& to) {
  const std::string source = FullPath(from);
  const std::string destination = FullPath(to);
  Node* node = Find(source);
  if (!node || node->inUse || node->heldAgainstWriters > 0 || destination.empty() ||
      Find(destination) ||
      !ParentIsDirectory(destination) || Refused(destination)) {
    return false;
  }
  // A directory is renamed with all below it, as MoveFileEx does on one volume.
  if (node->isDirectory) {
    if (VolumeOf(KeyOf(source)) != VolumeOf(KeyOf(destination))) return false;
    MoveTree(source, destination);
    return true;
  }
  Node moved = *node;
  moved.path = destination;
  nodes_.erase(KeyOf(source));
  nodes_[KeyOf(destination)] = moved;
  return true;
}

bool MemoryFileSystem::RemoveFile(const std::string& path) {
  Node* node = Find(path);
  if (!node || node->isDirectory || node->readOnly || node->inUse || node->heldAgainstWriters > 0) return false;
  Release(node->data.size());
  nodes_.erase(KeyOf(path));
  return true;
}

bool MemoryFileSystem::MakeDirectory(const std::string& path) {
  const std::string full = FullPath(path);
  if (full.empty() || Find(full) || !ParentIsDirectory(full) || Refused(full)) return false;
  nodes_[KeyOf(full)] = Node{full, true, {}, false, false};
  return true;
}

// Appends reach the node at once: the in-memory disk has no cache to flush. While open, the
// file refuses writers, renames and deletion, as a Windows handle that shares reading only.
class MemoryAppendingFile : public AppendingFile {
 public:
  // Like the Win32 file, open with read sharing only: while it is open the file cannot be
  // written by anyone else, moved or deleted.
  MemoryAppendingFile(MemoryFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {
    if (MemoryFileSystem::Node* node = files_.Find(path_)) ++node->heldAgainstWriters;
  }
  ~MemoryAppendingFile() override {
    if (MemoryFileSystem::Node* node = files_.Find(path_)) --node->heldAgainstWriters;
  }
  bool Append(std::string_view bytes) override {
    if (!AppendFlushingLater(bytes)) return false;
    return WaitFlushed();
  }
  bool AppendFlushingLater(std::string_view bytes) override {
    MemoryFileSystem::Node* node = files_.Find(path_);
    if (!node || node->isDirectory || !files_.Allocate(bytes.size())) return false;
    node->data.append(bytes);
    return true;
  }
  bool WaitFlushed() override {
    MemoryFileSystem::Node* node = files_.Find(path_);
    if (!node) return false;
    if (node->durable != node->data) files_.Flushed(*node);
    return true;
  }

 private:
  MemoryFileSystem& files_;
  std::string path_;
};

std::unique_ptr<AppendingFile> MemoryFileSystem::OpenForAppending(const std::string& path) {
  const std::string full = FullPath(path);
  const Node* node = Find(full);
  if (node && (node->isDirectory || node->readOnly || node->inUse)) return nullptr;
  if (!node) {
    if (full.empty() || ParentOf(full).empty() || !ParentIsDirectory(full) || Refused(full)) return nullptr;
    nodes_[KeyOf(full)] = Node{full, false, {}, false, false};
  }
  return std::make_unique<MemoryAppendingFile>(*this, full);
}

std::unique_ptr<AppendingFile> MemoryFileSystem::CreateProtectedForAppending(const std::string& path, bool* ownerRefused) {
  if (ownerRefused) *ownerRefused = false;
  if (Find(path)) return nullptr;
  if (KindOfVolume(FullPath(path)) == VolumeKind::ShareRefusingOwner) {
    if (ownerRefused) *ownerRefused = true;
    return nullptr;
  }
  auto file = OpenForAppending(path);
  if (file) SetOwner(path, Owner::Administrators, false);
  return file;
}

MemoryFileSystem::VolumeKind MemoryFileSystem::KindOfVolume(const std::string& path) const {
  const auto known = volumeKinds_.find(VolumeOf(AnsiUpperCase(path)));
  return known == volumeKinds_.end() ? VolumeKind::Ntfs : known->second;
}

ProtectedFileRead MemoryFileSystem::ReadProtectedFile(const std::string& path) {
  const Node* node = Find(path);
  // A program that holds the file open for writing refuses this reader, as it shares reading only.
  if (!node || node->isDirectory || node->inUse) return {};
  if (node->linked) return {FileTrust::Linked, {}};
  ProtectedFileRead read{FileTrust::Trusted, node->data};
  const VolumeKind volume = KindOfVolume(node->path);
  if (node->extraName) {
    read.trust = FileTrust::ExtraName;
  } else if (volume == VolumeKind::Share || node->owner == Owner::StandardUser || node->owner == Owner::ThisAccount) {
    read.trust = FileTrust::ForeignOwner;
  } else if (volume == VolumeKind::NoAccessLists || node->othersMayWrite) {
    read.trust = FileTrust::WritableByOthers;
  }
  return read;
}

void MemoryFileSystem::AddExtraName(const std::string& path) {
  if (Node* node = Find(path)) node->extraName = true;
}

bool MemoryFileSystem::MoveFileReplacing(const std::string& from, const std::string& to) {
  Node* existing = Find(to);
  if (existing && (existing->isDirectory || existing->readOnly || existing->inUse || existing->heldAgainstWriters > 0)) {
    return false;
  }
  Node* source = Find(from);
  if (!source || source->isDirectory || source->inUse || source->heldAgainstWriters > 0) return false;
  std::optional<Node> replaced;
  if (existing) {
    replaced = *existing;
    nodes_.erase(KeyOf(to));
  }
  if (!MoveFileTo(from, to)) {
    if (replaced) nodes_[KeyOf(to)] = *replaced;
    return false;
  }
  if (replaced) Release(replaced->data.size());
  Flushed(*Find(to));  // written through
  return true;
}

bool MemoryFileSystem::FlushVolume(const std::string& path) {
  const std::string volume = VolumeOf(KeyOf(path));
  if (volume.empty()) return false;
  volumeFlushes.push_back(volume);
  for (auto& [key, node] : nodes_) {
    if (VolumeOf(key) == volume) node.durable = node.data;
  }
  SnapshotVolume(volume);
  return true;
}

bool MemoryFileSystem::FlushFile(const std::string& path) {
  Node* node = Find(path);
  if (!node || node->isDirectory) return false;
  Flushed(*node);
  return true;
}

bool MemoryFileSystem::WriteInPlace(const std::string& path, std::string_view bytes) {
  const std::string full = FullPath(path);
  Node* node = Find(full);
  if (node && (node->isDirectory || node->readOnly || node->inUse || node->heldAgainstWriters > 0)) return false;
  if (!node) {
    if (full.empty() || !ParentIsDirectory(full) || Refused(full)) return false;
    node = &(nodes_[KeyOf(full)] = Node{full, false, {}, false, false});
  }
  if (!Allocate(bytes.size())) return false;
  Release(node->data.size());
  node->data.assign(bytes.data(), bytes.size());
  return true;
}

void MemoryFileSystem::SetOwner(const std::string& path, Owner owner, bool othersMayWrite) {
  if (Node* node = Find(path)) {
    node->owner = owner;
    node->othersMayWrite = othersMayWrite;
  }
}

bool MemoryFileSystem::CanReplace(const std::string& path) {
  const Node* node = Find(path);
  return node && !node->isDirectory && !node->readOnly && !node->inUse && node->heldAgainstWriters == 0;
}

bool MemoryFileSystem::IsLinked(const std::string& path) {
  const Node* node = Find(path);
  return node && (node->linked || node->extraName);
}

bool MemoryFileSystem::RemoveEmptyDirectory(const std::string& path) {
  const std::string full = FullPath(path);
  const Node* node = Find(full);
  if (!node || !node->isDirectory || ParentOf(full).empty() || !Children(full).empty()) return false;
  nodes_.erase(KeyOf(full));
  return true;
}

std::unique_ptr<DirectoryListing> MemoryFileSystem::ListMatching(const std::string& pattern) {
  // A snapshot: what changes in the directory while the listing runs does not show in it.
  auto listing = std::make_unique<SnapshotListing>();
  const ListingPattern parts = SplitListingPattern(pattern);
  const std::string directory = parts.directory.empty() ? currentDirectory_ : parts.directory;
  const Node* parent = Find(directory);
  if (!parent || !parent->isDirectory) return listing;
  for (const Node* child : Children(directory)) {
    const std::string name(LastComponent(child->path));
    if (MatchesWildcard(name, parts.mask)) listing->Add({name, child->isDirectory});
  }
  return listing;
}

void MemoryFileSystem::AddDirectory(const std::string& path) {
  const std::string full = FullPath(path);
  if (full.empty() || Find(full)) return;
  const std::string parent = ParentOf(full);
  if (!parent.empty()) AddDirectory(parent);
  nodes_[KeyOf(full)] = Node{full, true, {}, false, false};
  atLastFlush_ = nodes_;
}

void MemoryFileSystem::MoveTree(const std::string& from, const std::string& to) {
  const std::string source = FullPath(from), target = FullPath(to);
  const std::string sourceKey = KeyOf(source), below = sourceKey + "\\";
  AddDirectory(ParentOf(target));
  std::map<std::string, Node> moved;
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (it->first != sourceKey && !it->first.starts_with(below)) {
      ++it;
      continue;
    }
    Node node = it->second;
    node.path = target + node.path.substr(source.size());
    moved[KeyOf(node.path)] = node;
    it = nodes_.erase(it);
  }
  nodes_.merge(moved);
}

void MemoryFileSystem::AddFile(const std::string& path, std::string_view bytes) {
  const std::string full = FullPath(path);
  AddDirectory(ParentOf(full));
  Node& node = nodes_[KeyOf(full)];
  node.path = full;
  node.isDirectory = false;
  node.data.assign(bytes.data(), bytes.size());
  Flushed(node);  // what a test sets up is on the disk
}

void MemoryFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  if (Node* node = Find(path)) node->readOnly = readOnly;
}

void MemoryFileSystem::SetInUse(const std::string& path, bool inUse) {
  if (Node* node = Find(path)) node->inUse = inUse;
}

void MemoryFileSystem::SetLinked(const std::string& path) {
  if (Node* node = Find(path)) node->linked = true;
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

std::vector<const MemoryFileSystem::Node*> MemoryFileSystem::Children(const std::string& directory) const {
  const std::string full = FullPath(directory);
  std::vector<const Node*> children;
  if (full.empty()) return children;
  for (const auto& [key, node] : nodes_) {
    if (AnsiSameText(ParentOf(node.path), full)) children.push_back(&node);
  }
  return children;
}

std::vector<std::string> MemoryFileSystem::List(const std::string& directory) const {
  std::vector<std::string> names;
  for (const Node* child : Children(directory)) names.emplace_back(LastComponent(child->path));
  return names;
}

void MemoryFileSystem::RefuseWritesUnder(const std::string& directory) {
  refusedDirectories_[Folded(FullPath(directory))] = true;
}

std::string MemoryFileSystem::Dump() const {
  std::ostringstream out;
  out << "current directory " << currentDirectory_ << "\n";
  for (const auto& [key, node] : nodes_) {
    out << (node.isDirectory ? "[dir]  " : "[file] ") << node.path;
    if (!node.isDirectory) out << " (" << node.data.size() << " bytes)";
    if (node.readOnly) out << " read-only";
    if (node.inUse) out << " in use";
    if (node.heldAgainstWriters > 0) out << " held";
    out << "\n";
  }
  return out.str();
}

}  // namespace varno::fake
