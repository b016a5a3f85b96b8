#include "platform/posix/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <future>
#include <optional>
#include <utility>
#include <random>
#include <vector>

#include "base/ansi_text.h"
#include "base/windows_path.h"

namespace varno::posix {
namespace {

// Closes a descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

std::optional<struct stat> Stat(const std::string& hostPath) {
  struct stat info {};
  if (hostPath.empty() || ::stat(hostPath.c_str(), &info) != 0) return std::nullopt;
  return info;
}

bool IsRegularFile(const std::string& hostPath) {
  const auto info = Stat(hostPath);
  return info && S_ISREG(info->st_mode);
}

bool IsDirectory(const std::string& hostPath) {
  const auto info = Stat(hostPath);
  return info && S_ISDIR(info->st_mode);
}

// The Windows read-only attribute: the owner may not write. Checked on the mode itself,
// since root passes every permission test.
bool IsReadOnly(const struct stat& info) { return (info.st_mode & S_IWUSR) == 0; }

// Takes the exclusive lock that replacing or deleting a file needs: none while anyone
// reads the file or holds it in use. The lock lasts as long as the descriptor.
Descriptor LockExclusively(const std::string& hostPath) {
  Descriptor fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Valid() && ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) fd.Close();
  return fd;
}

// The directory of a Linux path (not a Windows one: "/" only).
std::string HostParentOf(const std::string& hostPath) {
  const size_t slash = hostPath.find_last_of('/');
  return slash == std::string::npos ? "." : hostPath.substr(0, slash);
}

bool SyncDirectory(const std::string& hostPath) {
  Descriptor dir(::open(hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir.Valid() && ::fsync(dir.Get()) == 0;
}

// The entry of a directory whose name equals name without regard to case, preferring the
// exact one; nothing when there is none.
std::optional<std::string> MatchEntry(const std::string& directory, const std::string& name) {
  if (::access((directory + "/" + name).c_str(), F_OK) == 0) return name;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return std::nullopt;
  std::optional<std::string> match;
  while (const dirent* entry = ::readdir(dir)) {
    if (AnsiSameText(entry->d_name, name)) {
      match = entry->d_name;
      break;
    }
  }
  ::closedir(dir);
  return match;
}

// Callers write in chunks of any size, many of a few bytes or kilobytes that end inside a
// page (the kernel would take most pages in two writes); files are written through the
// kernel in whole 64 KiB blocks instead, about a third faster on a large copy (measured when
// the extractor's buffer held 20,000 bytes). Larger blocks were measured no faster, and at times much slower. Reads gather
// only the small requests (the archive's headers and names): a large one goes straight into
// the caller's buffer, as a copy through the block costs more than the extra system calls.
constexpr size_t kBlockSize = 64 * 1024;
constexpr size_t kDirectReadSize = 4096;
// How much a file to be flushed grows between two starts of its writeback: a quarter and
// four mebibytes were measured no better.
constexpr uint64_t kWritebackStep = 1 << 20;

class PosixInputFile : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd), block_(kBlockSize) {}
  size_t Read(char* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      if (next_ == end_) {
        blockStart_ += end_;
        next_ = end_ = 0;
        if (size - done >= kDirectReadSize) {
          const size_t read = ReadFromFile(buffer + done, size - done);
          blockStart_ += read;
          done += read;
          if (read == 0) break;
          continue;
        }
        end_ = ReadFromFile(block_.data(), block_.size());
        if (end_ == 0) break;
      }
      const size_t part = std::min(size - done, end_ - next_);
      std::memcpy(buffer + done, block_.data() + next_, part);
      next_ += part;
      done += part;
    }
    return done;
  }
  bool Seek(uint64_t position) override {
    // Within the block already read, only the cursor moves.
    if (position >= blockStart_ && position <= blockStart_ + end_) {
      next_ = static_cast<size_t>(position - blockStart_);
      return true;
    }
    if (::lseek(fd_.Get(), static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(-1)) return false;
    blockStart_ = position;
    next_ = end_ = 0;
    return true;
  }
  uint64_t Size() override {
    struct stat info {};
    return ::fstat(fd_.Get(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
  }

 private:
  // What one read() gives, 0 at the end of the file or on an error.
  size_t ReadFromFile(char* into, size_t size) {
    for (;;) {
      const ssize_t read = ::read(fd_.Get(), into, size);
      if (read >= 0) return static_cast<size_t>(read);
      if (errno != EINTR) return 0;
    }
  }

  Descriptor fd_;
  std::vector<char> block_;
  uint64_t blockStart_ = 0;  // the file position of block_[0]
  size_t next_ = 0;
  size_t end_ = 0;
};

class PosixOutputFile : public OutputFile {
 public:
  PosixOutputFile(int fd, std::string temporary, std::string target, bool flush)
      : fd_(fd), temporary_(std::move(temporary)), target_(std::move(target)), flush_(flush) {}
  ~PosixOutputFile() override {
    if (flushing_.valid()) flushing_.wait();
    fd_.Close();
    if (!committed_) ::unlink(temporary_.c_str());
  }

  bool Write(const char* data, size_t size) override {
    if (block_.empty()) block_.resize(kBlockSize);
    while (size > 0 && !failed_) {
      const size_t part = std::min(size, block_.size() - used_);
      std::memcpy(block_.data() + used_, data, part);
      used_ += part;
      data += part;
      size -= part;
      if (used_ == block_.size()) WriteBlock();
    }
    return !failed_;
  }

  // The flush runs on a thread of its own while the caller writes the next replacements:
  // a file system given several flushes at once takes them in one commit of its log.
  bool Finish() override {
    if (!failed_) WriteBlock();
    std::vector<char>().swap(block_);
    if (flush_ && !failed_ && !flushing_.valid()) {
      flushedUpTo_ = written_;
      flushing_ = std::async(std::launch::async, [fd = fd_.Get()] { return ::fsync(fd) == 0; });
    }
    return !failed_;
  }

  bool Commit() override {
    // Flushed, the bytes reach the disk before the name does, so a crash never leaves a
    // file that has its new name and not its content.
    if (!failed_ && used_ > 0) WriteBlock();
    // A flush that failed stays failed: a second fsync would report the lost bytes as kept.
    bool flushed = false;
    if (flushing_.valid() && !(flushed = flushing_.get())) failed_ = true;
    flushed = flushed && written_ == flushedUpTo_;
    if (failed_ || committed_ || (flush_ && !flushed && ::fsync(fd_.Get()) != 0)) return false;
    fd_.Close();
    Descriptor lock;
    if (const auto info = Stat(target_)) {
      if (S_ISDIR(info->st_mode) || IsReadOnly(*info)) return false;
      lock = LockExclusively(target_);
      if (!lock.Valid()) return false;
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
    committed_ = true;
    if (flush_) SyncDirectory(HostParentOf(target_));
    return true;
  }

 private:
  // Writes out what the block holds; a failure stays, so the file is never committed.
  void WriteBlock() {
    const char* data = block_.data();
    size_t size = used_;
    while (size > 0 && !failed_) {
      const ssize_t written = ::write(fd_.Get(), data, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        failed_ = true;
      } else {
        data += written;
        size -= static_cast<size_t>(written);
      }
    }
    written_ += used_;
    used_ = 0;
    // A file that will be flushed at its commit has its writeback started as it grows, so
    // the disk works while the next bytes are copied and the flush finds little left to do.
    if (flush_ && !failed_ && written_ - startedUpTo_ >= kWritebackStep) {
      ::sync_file_range(fd_.Get(), static_cast<off_t>(startedUpTo_), static_cast<off_t>(written_ - startedUpTo_),
                        SYNC_FILE_RANGE_WRITE);
      startedUpTo_ = written_;
    }
  }

  Descriptor fd_;
  std::string temporary_;
  std::string target_;
  bool flush_;
  bool failed_ = false;
  bool committed_ = false;
  std::vector<char> block_ = std::vector<char>(kBlockSize);
  size_t used_ = 0;
  uint64_t written_ = 0;      // bytes handed to the kernel
  uint64_t startedUpTo_ = 0;  // bytes whose writeback has been started
  uint64_t flushedUpTo_ = 0;  // bytes the flush started by Finish takes
  std::future<bool> flushing_;
};

}  // namespace

PosixFileSystem::PosixFileSystem(std::string root, bool flushOnCommit)
    : root_(std::move(root)), flushOnCommit_(flushOnCommit) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string PosixFileSystem::HostPath(const std::string& path) const {
  // A network share, or a "drive" that is no letter, has no place on the Linux disk.
  const std::string full = FullPath(path, currentDirectory_);
  if (full.size() < 3 || full[1] != ':' || !std::isalpha(static_cast<unsigned char>(full[0]))) return {};

  // Below the drive's directory, each name in its case on disk, as far as the names exist.
  std::string host = root_ + "/" + full[0];
  bool existing = IsDirectory(host);
  for (size_t start = 3; start < full.size();) {
    const size_t end = std::min(full.find('\\', start), full.size());
    const std::string part = full.substr(start, end - start);
    start = end + 1;
    const auto match = existing ? MatchEntry(host, part) : std::nullopt;
    host += "/" + match.value_or(part);
    existing = match.has_value();
  }
  return host;
}

bool PosixFileSystem::FileExists(const std::string& path) { return IsRegularFile(HostPath(path)); }

bool PosixFileSystem::DirectoryExists(const std::string& path) { return IsDirectory(HostPath(path)); }

std::unique_ptr<InputFile> PosixFileSystem::OpenForReading(const std::string& path) {
  const std::string host = HostPath(path);
  if (!IsRegularFile(host)) return nullptr;
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto file = std::make_unique<PosixInputFile>(fd);
  // A reader shares the file with other readers only, as a Windows reader that does not
  // share deletion: the file can be neither replaced nor deleted while it is open.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return nullptr;
  return file;
}

std::unique_ptr<OutputFile> PosixFileSystem::CreateReplacement(const std::string& path) {
  const std::string target = HostPath(path);
  if (target.empty() || !IsDirectory(HostParentOf(target)) || IsDirectory(target)) return nullptr;
  // Beside the target, so that the final rename stays on one file system.
  std::string temporary = HostParentOf(target) + "/vrnXXXXXX.tmp";
  const int fd = ::mkstemps(temporary.data(), 4);
  if (fd < 0) return nullptr;
  ::fchmod(fd, 0644);
  return std::make_unique<PosixOutputFile>(fd, std::move(temporary), target, flushOnCommit_);
}

std::unique_ptr<OutputFile> PosixFileSystem::CreateReplacementNamed(const std::string& path,
                                                                    const std::string& temporary) {
  const std::string target = HostPath(path);
  const std::string host = HostPath(temporary);
  if (target.empty() || host.empty() || !IsDirectory(HostParentOf(target)) || IsDirectory(target)) return nullptr;
  // O_EXCL with O_CREAT refuses any existing name, a symbolic link included.
  const int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixOutputFile>(fd, host, target, flushOnCommit_);
}

bool PosixFileSystem::RemoveAtRestart(const std::string&) { return false; }

uint64_t PosixFileSystem::UnpredictableNumber() {
  std::random_device device;
  return (uint64_t{device()} << 32) ^ device();
}

bool PosixFileSystem::MoveFileTo(const std::string& from, const std::string& to) {
  const std::string source = HostPath(from);
  const std::string destination = HostPath(to);
  if (!IsRegularFile(source) || destination.empty() || Stat(destination) || !IsDirectory(HostParentOf(destination))) {
    return false;
  }
  const Descriptor lock = LockExclusively(source);
  if (!lock.Valid()) return false;
  // Never over an existing file, even one that appeared since the test above.
  return ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0;
}

bool PosixFileSystem::RemoveFile(const std::string& path) {
  const std::string host = HostPath(path);
  const auto info = Stat(host);
  if (!info || !S_ISREG(info->st_mode) || IsReadOnly(*info)) return false;
  const Descriptor lock = LockExclusively(host);
  return lock.Valid() && ::unlink(host.c_str()) == 0;
}

bool PosixFileSystem::MakeDirectory(const std::string& path) {
  const std::string host = HostPath(path);
  if (host.empty() || Stat(host) || !IsDirectory(HostParentOf(host))) return false;
  return ::mkdir(host.c_str(), 0755) == 0;
}

namespace {

class PosixAppendingFile : public AppendingFile {
 public:
  explicit PosixAppendingFile(Descriptor file) : file_(std::move(file)) {}
  ~PosixAppendingFile() override { WaitFlushed(); }

  bool Append(std::string_view bytes) override { return Write(bytes) && ::fdatasync(file_.Get()) == 0; }

  bool AppendFlushingLater(std::string_view bytes) override {
    if (!WaitFlushed() || !Write(bytes)) return false;
    flushing_ = std::async(std::launch::async, [fd = file_.Get()] { return ::fdatasync(fd) == 0; });
    return true;
  }

  bool WaitFlushed() override { return !flushing_.valid() || flushing_.get(); }

 private:
  bool Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t written = ::write(file_.Get(), bytes.data(), bytes.size());
      if (written <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
  }

  Descriptor file_;
  std::future<bool> flushing_;  // the flush started last, until it is waited for
};

}  // namespace

std::unique_ptr<AppendingFile> PosixFileSystem::OpenForAppending(const std::string& path) {
  const std::string host = HostPath(path);
  if (host.empty() || IsDirectory(host) || !IsDirectory(ParentOf(host))) return nullptr;
  Descriptor file(::open(host.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!file.Valid()) return nullptr;
  if (flushOnCommit_) SyncDirectory(ParentOf(host));
  return std::make_unique<PosixAppendingFile>(std::move(file));
}

std::unique_ptr<AppendingFile> PosixFileSystem::CreateProtectedForAppending(const std::string& path, bool* ownerRefused) {
  if (ownerRefused) *ownerRefused = false;
  const std::string host = HostPath(path);
  if (host.empty() || !IsDirectory(ParentOf(host))) return nullptr;
  Descriptor file(::open(host.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.Valid()) return nullptr;
  if (flushOnCommit_) SyncDirectory(ParentOf(host));
  return std::make_unique<PosixAppendingFile>(std::move(file));
}

ProtectedFileRead PosixFileSystem::ReadProtectedFile(const std::string& path) {
  const std::string host = HostPath(path);
  if (host.empty()) return {};
  Descriptor file(::open(host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!file.Valid()) return {errno == ELOOP ? FileTrust::Linked : FileTrust::Missing, {}};
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  // The root of this host stands for the administrators, as the owner this backend makes.
  ProtectedFileRead read{FileTrust::Trusted, {}};
  if (info.st_nlink > 1) {
    read.trust = FileTrust::ExtraName;
  } else if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
    read.trust = FileTrust::ForeignOwner;
  } else if (info.st_mode & (S_IWGRP | S_IWOTH)) {
    read.trust = FileTrust::WritableByOthers;
  }
  char chunk[65536];
  ssize_t got = 0;
  while ((got = ::read(file.Get(), chunk, sizeof(chunk))) > 0) read.bytes.append(chunk, static_cast<size_t>(got));
  if (got < 0) return {};
  return read;
}

bool PosixFileSystem::MoveFileReplacing(const std::string& from, const std::string& to) {
  const std::string source = HostPath(from);
  const std::string destination = HostPath(to);
  if (!IsRegularFile(source) || destination.empty() || ::rename(source.c_str(), destination.c_str()) != 0) return false;
  SyncDirectory(ParentOf(destination));
  return true;
}

bool PosixFileSystem::FlushFile(const std::string& path) {
  const std::string host = HostPath(path);
  Descriptor file(host.empty() ? -1 : ::open(host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  return file.Valid() && ::fsync(file.Get()) == 0;
}

std::optional<uint64_t> PosixFileSystem::FreeBytes(const std::string& directory) {
  const std::string host = HostPath(directory);
  struct statvfs volume {};
  if (host.empty() || ::statvfs(host.c_str(), &volume) != 0) return std::nullopt;
  return static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
}

bool PosixFileSystem::CanReplace(const std::string& path) {
  const std::string host = HostPath(path);
  const auto info = host.empty() ? std::nullopt : Stat(host);
  return info && S_ISREG(info->st_mode) && !IsReadOnly(*info) && LockExclusively(host).Valid();
}

bool PosixFileSystem::IsLinked(const std::string& path) {
  const std::string host = HostPath(path);
  struct stat info {};
  if (host.empty() || ::lstat(host.c_str(), &info) != 0) return false;
  return S_ISLNK(info.st_mode) || (S_ISREG(info.st_mode) && info.st_nlink > 1);
}

bool PosixFileSystem::RemoveEmptyDirectory(const std::string& path) {
  const std::string host = HostPath(path);
  return !host.empty() && ::rmdir(host.c_str()) == 0;
}

std::unique_ptr<DirectoryListing> PosixFileSystem::ListMatching(const std::string& pattern) {
  // Read at once, in readdir order (not sorted, as under Wine).
  auto listing = std::make_unique<SnapshotListing>();
  const ListingPattern parts = SplitListingPattern(pattern);
  const std::string directory = HostPath(parts.directory.empty() ? "." : parts.directory);
  DIR* dir = directory.empty() ? nullptr : ::opendir(directory.c_str());
  if (!dir) return listing;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || !MatchesWildcard(name, parts.mask)) continue;
    listing->Add({name, IsDirectory(directory + "/" + name)});
  }
  ::closedir(dir);
  return listing;
}

namespace {

class PosixHeldDirectory : public HeldDirectory {
 public:
  explicit PosixHeldDirectory(Descriptor directory) : directory_(std::move(directory)) {}

 private:
  Descriptor directory_;
};

std::optional<FileId> IdOfHostFile(const std::string& host) {
  struct stat info {};
  if (host.empty() || ::lstat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return FileId{static_cast<uint32_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

}  // namespace

HeldDirectoryOpen PosixFileSystem::HoldDirectory(const std::string& path) {
  const std::string host = HostPath(path);
  struct stat info {};
  if (host.empty() || ::lstat(host.c_str(), &info) != 0) return {DirectoryHold::Missing, nullptr};
  if (S_ISLNK(info.st_mode)) return {DirectoryHold::Linked, nullptr};
  if (!S_ISDIR(info.st_mode)) return {DirectoryHold::Missing, nullptr};
  Descriptor directory(::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.Valid()) return {errno == ELOOP ? DirectoryHold::Linked : DirectoryHold::Refused, nullptr};
  return {DirectoryHold::Held, std::make_unique<PosixHeldDirectory>(std::move(directory))};
}

std::optional<FileId> PosixFileSystem::FileIdOf(const std::string& path) { return IdOfHostFile(HostPath(path)); }

bool PosixFileSystem::RemoveFileIfSame(const std::string& path, const FileId& id) {
  const std::string host = HostPath(path);
  return IdOfHostFile(host) == id && RemoveFile(path);
}

}  // namespace varno::posix
