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

std::string MemoryFileSystem::Real(const std::string& path) const {
  std::string full = FullPath(path);
  // A junction may lead through another; a loop of them resolves to nothing, as Windows
  // gives up after a bounded number of reparses.
  for (int reparses = 0; reparses < 32 && !full.empty(); ++reparses) {
    bool followed = false;
    for (size_t separator = full.find('\\', 3); separator != std::string::npos && !followed;
         separator = full.find('\\', separator + 1)) {
      const auto node = nodes_.find(Folded(full.substr(0, separator)));
      if (node != nodes_.end() && !node->second.junctionTo.empty()) {
        full = node->second.junctionTo + full.substr(separator);
        followed = true;
      }
    }
    if (!followed) return full;
  }
  return {};
}

std::string MemoryFileSystem::Reach(const std::string& path) const {
  const std::string full = FullPath(path);
  const std::string parent = ParentOf(full);
  if (!parent.empty()) {
    const auto held = heldByName_.find(Folded(WithoutTrailingBackslash(parent)));
    if (held != heldByName_.end()) return JoinPath(WithoutTrailingBackslash(held->second.real), LastComponent(full));
  }
  return Real(path);
}

MemoryFileSystem::Node* MemoryFileSystem::At(const std::string& real) {
  auto it = nodes_.find(Folded(real));
  return it == nodes_.end() ? nullptr : &it->second;
}

const MemoryFileSystem::Node* MemoryFileSystem::At(const std::string& real) const {
  auto it = nodes_.find(Folded(real));
  return it == nodes_.end() ? nullptr : &it->second;
}

void MemoryFileSystem::Step() {
  ++operations;
  if (!beforeEachOperation || inStep_) return;
  inStep_ = true;
  try {
    beforeEachOperation(operations);
  } catch (...) {
    inStep_ = false;
    throw;
  }
  inStep_ = false;
}

std::string MemoryFileSystem::KeyOf(const std::string& path) const { return Folded(Real(path)); }

MemoryFileSystem::Node* MemoryFileSystem::Find(const std::string& path) {
  auto it = nodes_.find(KeyOf(path));
  return it == nodes_.end() ? nullptr : &it->second;
}

const MemoryFileSystem::Node* MemoryFileSystem::Find(const std::string& path) const {
  auto it = nodes_.find(KeyOf(path));
  return it == nodes_.end() ? nullptr : &it->second;
}

bool MemoryFileSystem::ParentIsDirectory(const std::string& fullPath) const {
  const Node* parent = At(ParentOf(fullPath));
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
  Step();
  const Node* node = At(Reach(path));
  return node && !node->isDirectory;
}

bool MemoryFileSystem::DirectoryExists(const std::string& path) {
  Step();
  const Node* node = At(Reach(path));
  return node && node->isDirectory;
}

// Held files cannot be erased or replaced, so the node outlives the holder.
class HeldMemoryInputFile : public BytesInput {
 public:
  HeldMemoryInputFile(MemoryFileSystem& files, std::string path, std::string data)
      : BytesInput(std::move(data)), files_(files), path_(std::move(path)) {}
  ~HeldMemoryInputFile() override {
    if (auto* node = files_.At(path_)) --node->heldAgainstWriters;
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
    MemoryFileSystem::Node* node = files_.At(temporary_);
    if (failed_ || !node || files_.DiskFillsAt(target_, node->data.size() + size) || !files_.Allocate(size)) {
      // The replacement cannot commit any more; the file it would replace stays as it was.
      failed_ = true;
      return false;
    }
    node->data.append(data, size);
    return true;
  }
  bool Commit() override {
    files_.Step();
    if (failed_ || committed_) return false;
    MemoryFileSystem::Node* node = files_.At(temporary_);
    if (!node) return false;
    // Flushed, then renamed through to the disk.
    node->durable = node->data;
    committed_ = files_.Commit(temporary_, target_);
    if (committed_) files_.Flushed(*files_.At(target_));
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
  Step();
  const Node* node = At(Reach(path));
  if (!node || node->isDirectory || node->inUse) return nullptr;
  return std::make_unique<BytesInput>(node->data);
}

std::unique_ptr<InputFile> MemoryFileSystem::OpenHeldAgainstWriters(const std::string& path) {
  Step();
  const std::string full = Reach(path);
  Node* node = At(full);
  if (!node || node->isDirectory || node->inUse) return nullptr;
  ++node->heldAgainstWriters;
  return std::make_unique<HeldMemoryInputFile>(*this, full, node->data);
}

bool MemoryFileSystem::HeldAgainstWriters(const std::string& path) const {
  const Node* node = Find(path);
  return node && node->heldAgainstWriters > 0;
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateReplacement(const std::string& path) {
  const std::string named = FullPath(path);
  if (named.empty() || ParentOf(named).empty()) return nullptr;
  return CreateReplacementNamed(
      path, JoinPath(WithoutTrailingBackslash(ParentOf(named)), "vrn" + std::to_string(++temporaries_) + ".tmp"));
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateReplacementNamed(const std::string& path,
                                                                     const std::string& temporary) {
  Step();
  const std::string target = Reach(path);
  const std::string full = Reach(temporary);
  if (target.empty() || ParentOf(target).empty() || !ParentIsDirectory(target) || Refused(target)) return nullptr;
  if (full.empty() || At(full) || !ParentIsDirectory(full) || Refused(full)) return nullptr;
  nodes_[Folded(full)] = Node{full, false, {}, false, false};
  return std::make_unique<MemoryOutputFile>(*this, full, target);
}

bool MemoryFileSystem::RemoveAtRestart(const std::string& path) {
  Step();
  if (refuseRemovalAtRestart || !Find(path)) return false;
  removalsAtRestart.push_back(Real(path));
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
  for (auto& [key, node] : after.nodes_) {
    node.heldAgainstWriters = 0;
    node.heldDirectory = 0;
  }
  after.beforeEachOperation = nullptr;
  after.operations = 0;  // the next process counts its own
  after.heldByName_.clear();
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
    node.heldDirectory = 0;
    node.data = node.durable;
  }
  after.heldByName_.clear();
  after.atLastFlush_ = after.nodes_;
  return after;
}

bool MemoryFileSystem::Commit(const std::string& temporary, const std::string& target) {
  Node* existing = At(target);
  ++writes_;
  if (writes_ == failAtWrite_ || (existing && (existing->isDirectory || existing->readOnly || existing->inUse ||
                                        existing->heldAgainstWriters > 0))) {
    return false;
  }
  if (existing) Release(existing->data.size());
  Node moved = nodes_[Folded(temporary)];
  moved.path = existing ? existing->path : target;
  nodes_.erase(Folded(temporary));
  nodes_[Folded(target)] = moved;
  return true;
}

void MemoryFileSystem::Discard(const std::string& temporary) {
  if (Node* node = At(temporary)) {
    Release(node->data.size());
    nodes_.erase(Folded(temporary));
  }
}

bool MemoryFileSystem::MoveFileTo(const std::string& from, const std::string& to) {
  Step();
  const std::string source = Reach(from);
  const std::string destination = Reach(to);
  Node* node = At(source);
  if (!node || node->inUse || node->heldAgainstWriters > 0 || destination.empty() ||
      At(destination) ||
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
  nodes_.erase(Folded(source));
  nodes_[Folded(destination)] = moved;
  return true;
}

bool MemoryFileSystem::RemoveFile(const std::string& path) {
  Step();
  const std::string full = Reach(path);
  Node* node = At(full);
  if (!node || node->isDirectory || node->readOnly || node->inUse || node->heldAgainstWriters > 0) return false;
  Release(node->data.size());
  nodes_.erase(Folded(full));
  return true;
}

bool MemoryFileSystem::MakeDirectory(const std::string& path) {
  Step();
  const std::string full = Reach(path);
  if (full.empty() || At(full) || !ParentIsDirectory(full) || Refused(full)) return false;
  nodes_[Folded(full)] = Node{full, true, {}, false, false};
  return true;
}

// Appends reach the node at once: the in-memory disk has no cache to flush. While open, the
// file refuses writers, renames and deletion, as a Windows handle that shares reading only.
class MemoryAppendingFile : public AppendingFile {
 public:
  // Like the Win32 file, open with read sharing only: while it is open the file cannot be
  // written by anyone else, moved or deleted.
  MemoryAppendingFile(MemoryFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {
    if (MemoryFileSystem::Node* node = files_.At(path_)) ++node->heldAgainstWriters;
  }
  ~MemoryAppendingFile() override {
    if (MemoryFileSystem::Node* node = files_.At(path_)) --node->heldAgainstWriters;
  }
  bool Append(std::string_view bytes) override {
    if (!AppendFlushingLater(bytes)) return false;
    return WaitFlushed();
  }
  bool AppendFlushingLater(std::string_view bytes) override {
    MemoryFileSystem::Node* node = files_.At(path_);
    if (!node || node->isDirectory || !files_.Allocate(bytes.size())) return false;
    node->data.append(bytes);
    return true;
  }
  bool WaitFlushed() override {
    MemoryFileSystem::Node* node = files_.At(path_);
    if (!node) return false;
    if (node->durable != node->data) files_.Flushed(*node);
    return true;
  }

 private:
  MemoryFileSystem& files_;
  std::string path_;
};

std::unique_ptr<AppendingFile> MemoryFileSystem::OpenForAppending(const std::string& path) {
  Step();
  const std::string full = Reach(path);
  const Node* node = At(full);
  if (node && (node->isDirectory || node->readOnly || node->inUse)) return nullptr;
  if (!node) {
    if (full.empty() || ParentOf(full).empty() || !ParentIsDirectory(full) || Refused(full)) return nullptr;
    nodes_[Folded(full)] = Node{full, false, {}, false, false};
  }
  return std::make_unique<MemoryAppendingFile>(*this, full);
}

std::unique_ptr<AppendingFile> MemoryFileSystem::CreateProtectedForAppending(const std::string& path, bool* ownerRefused) {
  if (ownerRefused) *ownerRefused = false;
  Step();
  const std::string full = Reach(path);
  if (At(full)) return nullptr;
  if (KindOfVolume(FullPath(path)) == VolumeKind::ShareRefusingOwner) {
    if (ownerRefused) *ownerRefused = true;
    return nullptr;
  }
  auto file = OpenForAppending(path);
  if (Node* made = file ? At(full) : nullptr) {
    made->owner = Owner::Administrators;
    made->othersMayWrite = false;
  }
  return file;
}

MemoryFileSystem::VolumeKind MemoryFileSystem::KindOfVolume(const std::string& path) const {
  const auto known = volumeKinds_.find(VolumeOf(AnsiUpperCase(path)));
  return known == volumeKinds_.end() ? VolumeKind::Ntfs : known->second;
}

ProtectedFileRead MemoryFileSystem::ReadProtectedFile(const std::string& path) {
  Step();
  const Node* node = At(Reach(path));
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

FileTrust MemoryFileSystem::TrustOfDirectory(const std::string& path, bool) {
  // One flag stands for every right of others here: a directory others may only add to is
  // not modelled.
  Step();
  const Node* node = Find(path);
  if (!node || !node->isDirectory) return FileTrust::Missing;
  if (node->linked) return FileTrust::Linked;
  // The account running may own a log's directories (it is no code).
  if (node->owner == Owner::StandardUser || KindOfVolume(node->path) == VolumeKind::Share) {
    return FileTrust::ForeignOwner;
  }
  const bool writable = node->othersMayWrite || KindOfVolume(node->path) == VolumeKind::NoAccessLists;
  return writable ? FileTrust::WritableByOthers : FileTrust::Trusted;
}

HeldForRunning MemoryFileSystem::OpenHeldForRunning(const std::string& path) {
  Step();
  const std::string full = Reach(path);
  Node* node = At(full);
  if (!node || node->isDirectory || node->inUse) return {};
  // Code counts only what elevation or the system alone can have written.
  const auto trustOf = [this](const Node& entry) {
    if (entry.linked) return FileTrust::Linked;
    if (entry.extraName) return FileTrust::ExtraName;
    const VolumeKind volume = KindOfVolume(entry.path);
    if (entry.owner == Owner::StandardUser || entry.owner == Owner::ThisAccount || volume == VolumeKind::Share) {
      return FileTrust::ForeignOwner;
    }
    const bool writable = entry.othersMayWrite || volume == VolumeKind::NoAccessLists;
    return writable ? FileTrust::WritableByOthers : FileTrust::Trusted;
  };
  FileTrust trust = trustOf(*node);
  if (trust == FileTrust::Trusted) {
    const Node* directory = Find(ParentOf(FullPath(path)));
    if (directory) trust = trustOf(*directory);
  }
  ++node->heldAgainstWriters;
  return {trust, std::make_unique<HeldMemoryInputFile>(*this, full, node->data)};
}

bool MemoryFileSystem::MoveFileReplacing(const std::string& from, const std::string& to) {
  Step();
  const std::string target = Reach(to);
  Node* existing = At(target);
  if (existing && (existing->isDirectory || existing->readOnly || existing->inUse || existing->heldAgainstWriters > 0)) {
    return false;
  }
  Node* source = At(Reach(from));
  if (!source || source->isDirectory || source->inUse || source->heldAgainstWriters > 0) return false;
  std::optional<Node> replaced;
  if (existing) {
    replaced = *existing;
    nodes_.erase(Folded(target));
  }
  if (!MoveFileTo(from, to)) {
    if (replaced) nodes_[Folded(target)] = *replaced;
    return false;
  }
  if (replaced) Release(replaced->data.size());
  Flushed(*At(target));  // written through
  return true;
}

bool MemoryFileSystem::FlushVolume(const std::string& path) {
  Step();
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
  Step();
  Node* node = At(Reach(path));
  if (!node || node->isDirectory) return false;
  Flushed(*node);
  return true;
}

bool MemoryFileSystem::WriteInPlace(const std::string& path, std::string_view bytes) {
  const std::string full = Real(path);
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
  Step();
  const Node* node = At(Reach(path));
  return node && !node->isDirectory && !node->readOnly && !node->inUse && node->heldAgainstWriters == 0;
}

bool MemoryFileSystem::IsLinked(const std::string& path) {
  Step();
  const Node* node = At(Reach(path));
  return node && (node->linked || node->extraName || !node->junctionTo.empty());
}

bool MemoryFileSystem::RemoveEmptyDirectory(const std::string& path) {
  Step();
  const std::string full = Reach(path);
  const Node* node = At(full);
  if (!node || !node->isDirectory || node->heldDirectory > 0 || ParentOf(full).empty() || !ChildrenAt(full).empty()) {
    return false;
  }
  nodes_.erase(Folded(full));
  return true;
}

std::unique_ptr<DirectoryListing> MemoryFileSystem::ListMatching(const std::string& pattern) {
  Step();
  // A snapshot: what changes in the directory while the listing runs does not show in it.
  auto listing = std::make_unique<SnapshotListing>();
  const ListingPattern parts = SplitListingPattern(pattern);
  // Listing a junction lists what it leads to.
  const std::string directory =
      ParentOf(Real(JoinPath(parts.directory.empty() ? currentDirectory_ : parts.directory, "*")));
  const Node* parent = Find(directory);
  if (!parent || !parent->isDirectory) return listing;
  for (const Node* child : Children(directory)) {
    const std::string name(LastComponent(child->path));
    if (MatchesWildcard(name, parts.mask)) listing->Add({name, child->isDirectory});
  }
  return listing;
}

void MemoryFileSystem::AddDirectory(const std::string& path) {
  const std::string full = Real(path);
  if (full.empty() || Find(full)) return;
  const std::string parent = ParentOf(full);
  if (!parent.empty()) AddDirectory(parent);
  nodes_[KeyOf(full)] = Node{full, true, {}, false, false};
  atLastFlush_ = nodes_;
}

void MemoryFileSystem::MoveTree(const std::string& from, const std::string& to) {
  const std::string source = Real(from), target = Real(to);
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
  const std::string full = Real(path);
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
  return ChildrenAt(Real(directory));
}

std::vector<const MemoryFileSystem::Node*> MemoryFileSystem::ChildrenAt(const std::string& full) const {
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
  refusedDirectories_[Folded(Real(directory))] = true;
}

// Held until dropped; the node cannot be renamed or removed meanwhile, so it outlives this.
class MemoryHeldDirectory : public HeldDirectory {
 public:
  MemoryHeldDirectory(MemoryFileSystem& files, const std::string& name, std::string real)
      : files_(files), name_(Folded(WithoutTrailingBackslash(files.FullPath(name)))), real_(std::move(real)) {
    ++files_.At(real_)->heldDirectory;
    MemoryFileSystem::HeldName& held = files_.heldByName_[name_];
    held.real = real_;
    ++held.holds;
  }
  ~MemoryHeldDirectory() override {
    if (auto* node = files_.At(real_)) --node->heldDirectory;
    const auto held = files_.heldByName_.find(name_);
    if (held != files_.heldByName_.end() && --held->second.holds <= 0) files_.heldByName_.erase(held);
  }

 private:
  MemoryFileSystem& files_;
  std::string name_;
  std::string real_;
};

HeldDirectoryOpen MemoryFileSystem::HoldDirectory(const std::string& path) {
  Step();
  const std::string real = Reach(path);
  Node* node = real.empty() ? nullptr : At(real);
  if (!node) return {DirectoryHold::Missing, nullptr};
  if (node->linked || !node->junctionTo.empty()) return {DirectoryHold::Linked, nullptr};
  if (!node->isDirectory) return {DirectoryHold::Missing, nullptr};
  return {DirectoryHold::Held, std::make_unique<MemoryHeldDirectory>(*this, path, real)};
}

HeldDirectoryOpen MemoryFileSystem::MakeHeldDirectory(const std::string& path) {
  Step();
  const std::string full = Reach(path);
  if (full.empty() || !ParentIsDirectory(full)) return {DirectoryHold::Missing, nullptr};
  if (At(full) || Refused(full)) return {DirectoryHold::Refused, nullptr};
  nodes_[Folded(full)] = Node{full, true, {}, false, false};
  return {DirectoryHold::Held, std::make_unique<MemoryHeldDirectory>(*this, path, full)};
}

bool MemoryFileSystem::MakeMountPoint(const std::string& directory, const std::string& target) {
  const std::string real = Real(directory);
  Node* node = real.empty() ? nullptr : At(real);
  if (!node || !node->isDirectory || !node->junctionTo.empty() || !ChildrenAt(real).empty()) return false;
  // What the program makes inherits its parent's access list: a level above that lets
  // standard users change it lets them change the new directory too.
  bool othersMayChange = false;
  for (std::string level = real; !level.empty() && !othersMayChange; level = ParentOf(level)) {
    const Node* above = At(level);
    othersMayChange = above && above->othersMayWrite;
    if (level == ParentOf(level)) break;
  }
  if (!othersMayChange) return false;
  node->junctionTo = FullPath(target);
  return true;
}

bool MemoryFileSystem::DirectoryHeld(const std::string& path) const {
  const Node* node = Find(path);
  return node && node->heldDirectory > 0;
}

std::optional<FileId> MemoryFileSystem::FileIdOf(const std::string& path) {
  Step();
  const std::string full = Reach(path);
  Node* node = At(full);
  if (!node || node->isDirectory) return std::nullopt;
  if (node->id == 0) node->id = ++lastFileId_;
  // A serial number per volume, the drive's letter or the share's name folded into it.
  uint32_t volume = 2166136261u;
  for (const char c : VolumeOf(Folded(full))) volume = (volume ^ static_cast<unsigned char>(c)) * 16777619u;
  return FileId{volume, node->id};
}

bool MemoryFileSystem::RemoveFileIfSame(const std::string& path, const FileId& id) {
  Step();
  const std::string full = Reach(path);
  const Node* node = At(full);
  if (!node || node->isDirectory || node->id == 0) return false;
  uint32_t volume = 2166136261u;
  for (const char c : VolumeOf(Folded(full))) volume = (volume ^ static_cast<unsigned char>(c)) * 16777619u;
  if (!(FileId{volume, node->id} == id) || node->readOnly || node->inUse || node->heldAgainstWriters > 0) return false;
  Release(node->data.size());
  nodes_.erase(Folded(full));
  return true;
}

void MemoryFileSystem::LetStandardUsersChange(const std::string& directory) {
  if (Node* node = Find(directory)) node->othersMayWrite = true;
}

bool MemoryFileSystem::SwapForJunction(const std::string& directory, const std::string& target) {
  const std::string real = Real(directory);
  const Node* node = real.empty() ? nullptr : Find(real);
  const Node* parent = node ? Find(ParentOf(real)) : nullptr;
  if (!node || !node->isDirectory || !parent || !parent->othersMayWrite) return false;
  const std::string key = Folded(real), below = key + "\\";
  for (const auto& [other, entry] : nodes_) {
    if ((other == key || other.starts_with(below)) && (entry.heldDirectory > 0 || entry.heldAgainstWriters > 0)) {
      return false;
    }
  }
  MoveTree(real, real + ".avant");
  Node junction{real, true};
  junction.junctionTo = FullPath(target);
  nodes_[key] = junction;
  return true;
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
    if (node.heldDirectory > 0) out << " held";
    if (!node.junctionTo.empty()) out << " junction to " << node.junctionTo;
    out << "\n";
  }
  return out.str();
}

}  // namespace varno::fake
