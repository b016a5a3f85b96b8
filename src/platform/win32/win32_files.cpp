#include "platform/win32/win32_files.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/windows_path.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_background_work.h"
#include "platform/win32/win32_file_protection.h"
#include "platform/win32/win32_held_names.h"

namespace varno::win32 {
namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

std::string HexOf(uint64_t number) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(16, '0');
  for (int i = 15; i >= 0; --i, number >>= 4) hex[static_cast<size_t>(i)] = kDigits[number & 15];
  return hex;
}

// The directory a temporary file for the path must go in, so that the final rename stays
// on the same volume and never copies.
std::string DirectoryOf(const std::string& path) {
  const std::string parent = ParentOf(path);
  return parent.empty() ? "." : parent;
}

// Each call into the system costs far more than copying the bytes (most of all under Wine),
// so small reads are served from one larger read, and small writes gathered into one.
constexpr size_t kIoBlock = 1u << 20;
// After a seek nothing says the reader will read on: a delta's source is read in stretches
// of a few hundred bytes with a jump between most of them, and a full block after each of
// its thousands of seeks copied gigabytes for megabytes used. The first read after a seek is
// this small and each following one twice the last, up to kIoBlock, so a reader that reads
// on soon gets large reads again.
constexpr size_t kFirstBlockAfterSeek = 16u << 10;

class Win32InputFile : public InputFile {
 public:
  explicit Win32InputFile(UniqueHandle file) : file_(std::move(file)) {}

  size_t Read(char* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      if (next_ == filled_) {
        next_ = filled_ = 0;
        if (size - done >= blockSize_) return done + ReadFromFile(buffer + done, size - done);
        block_.resize(kIoBlock);
        filled_ = ReadFromFile(block_.data(), blockSize_);
        blockSize_ = std::min(blockSize_ * 2, kIoBlock);
        if (filled_ == 0) break;
      }
      const size_t part = std::min(size - done, filled_ - next_);
      std::memcpy(buffer + done, block_.data() + next_, part);
      next_ += part;
      done += part;
    }
    return done;
  }

  // A position within the bytes last read from the file costs no call into the system.
  bool Seek(uint64_t position) override {
    if (position <= position_ && position_ - position <= filled_) {
      next_ = filled_ - static_cast<size_t>(position_ - position);
      return true;
    }
    next_ = filled_ = 0;
    blockSize_ = kFirstBlockAfterSeek;
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(position);
    if (SetFilePointerEx(file_.Get(), to, nullptr, FILE_BEGIN) == FALSE) return false;
    position_ = position;
    return true;
  }

  uint64_t Size() override {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file_.Get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }

 private:
  size_t ReadFromFile(char* buffer, size_t size) {
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 0x40000000));
    if (!::ReadFile(file_.Get(), buffer, chunk, &read, nullptr)) return 0;
    position_ += read;
    return read;
  }

  UniqueHandle file_;
  std::vector<char> block_;
  size_t next_ = 0;    // the first byte of block_ not yet given out
  size_t filled_ = 0;  // how much of block_ the last read filled: the bytes before position_
  size_t blockSize_ = kIoBlock;  // how much the next read into block_ asks for
  uint64_t position_ = 0;        // the file's own position: where the next read starts
};

class Win32OutputFile : public OutputFile {
  // A flush starts each time this much more was written; the caller waits for one only when
  // the disk lags further behind, so that the flush before the commit never holds it (and
  // the window it keeps answering) for as long as a large file takes to reach the disk.
  // Flushing every 8 MiB was measured far slower under Wine; every MiB, no faster.
  static constexpr uint64_t kFlushStep = 2u << 20;
  static constexpr uint64_t kMostUnflushed = 8u << 20;
  static constexpr size_t kDirectWrite = 64u << 10;

 public:
  // names: given when the temporary file was made in a held directory; it is then renamed
  // over the target through its own handle, into the held directory, and deleted through
  // its handle when dropped.
  Win32OutputFile(std::string target, std::string temporary, UniqueHandle file, const HeldNames* names)
      : target_(std::move(target)), temporary_(std::move(temporary)), file_(std::move(file)), names_(names) {}

  ~Win32OutputFile() override {
    flush_.WaitFlushed();
    if (!committed_ && names_ && file_.Valid() && DeleteThroughHandle(file_.Get())) {
      file_.Close();
      return;
    }
    file_.Close();
    if (!committed_) DeleteFileA(temporary_.c_str());
  }

  bool Write(const char* data, size_t size) override {
    while (size > 0 && !failed_) {
      if (used_ == 0 && size >= kDirectWrite) {
        // Large enough to be worth its call: it goes to the file as it is, without a copy.
        WriteToFile(data, size);
        break;
      }
      const size_t part = std::min(size, kIoBlock - used_);
      // Grown as needed: a small file's whole mebibyte, made and let go for each of
      // thousands of files, cost more than writing them (a page fault for every page).
      if (block_.size() < used_ + part) block_.resize(std::min(kIoBlock, std::max({2 * block_.size(), used_ + part, kDirectWrite})));
      std::memcpy(block_.data() + used_, data, part);
      used_ += part;
      data += part;
      size -= part;
      if (used_ == kIoBlock) WriteBlock();
    }
    if (!failed_ && unflushed_ >= kFlushStep) FlushAsItGoes();
    return !failed_;
  }

  // The bytes go to the file and their flush starts on a flush thread: the caller writes
  // the next replacements while the disk takes this one, and the commit finds it flushed.
  bool Finish() override {
    if (!failed_) WriteBlock();
    std::vector<char>().swap(block_);  // a whole archive's replacements may wait at once
    if (!failed_ && unflushed_ > 0) {
      if (!flush_.Start(file_.Get())) failed_ = true;
      unflushed_ = 0;
    }
    return !failed_;
  }

  bool Commit() override {
    if (!failed_) WriteBlock();
    // What was written since the last flush started is flushed on the flush thread too, so
    // that the wait for it answers the window's callers. Nothing written since: the bytes
    // are on the disk once the flush under way ends.
    if (!failed_ && unflushed_ > 0 && !flush_.Start(file_.Get())) failed_ = true;
    unflushed_ = 0;
    if (!flush_.WaitFlushed()) failed_ = true;
    if (failed_ || committed_) return false;
    if (names_) return CommitThroughHandle();
    file_.Close();
    // Windows refuses to replace a read-only file; Wine's MoveFileExA renames over it. The
    // explicit test keeps a read-only file whole on both.
    const DWORD attributes = Attributes(target_);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
      return false;
    }
    // MOVEFILE_REPLACE_EXISTING refuses a target that another program holds open.
    committed_ = MoveFileExA(temporary_.c_str(), target_.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    return committed_;
  }

 private:
  // The file written is the one renamed, through its handle, to the target's name in the
  // held directory; a flush of it then takes the rename to the disk, as
  // MOVEFILE_WRITE_THROUGH does. That flush runs on the flush thread and is waited for when
  // the replacement is let go, so that a caller holding several committed replacements
  // renames the next while the disk takes this one (each a flush of its own, one after the
  // other, cost a quarter of a millisecond a file under Wine).
  bool CommitThroughHandle() {
    if (TargetRefusesReplacement()) return false;
    if (!names_->Rename(file_.Get(), target_, true)) return false;
    committed_ = true;
    flush_.Start(file_.Get());
    return true;
  }

  // Windows refuses to replace a read-only file; Wine renames over it. Checked the same way
  // on both, with a handle closed before the rename, which an open target would refuse.
  bool TargetRefusesReplacement() const {
    const DWORD attributes = names_->Attributes(target_);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
  }

  // Starts a flush of what was written so far, unless one still runs: what is written
  // meanwhile goes with the next one.
  void FlushAsItGoes() {
    if (flush_.Running() && unflushed_ < kMostUnflushed) return;
    if (!flush_.WaitFlushed()) {
      failed_ = true;
      return;
    }
    unflushed_ = 0;
    if (!flush_.Start(file_.Get())) failed_ = true;
  }

  // Hands what the block holds to the file; a failure stays, so the file is never committed.
  void WriteBlock() {
    WriteToFile(block_.data(), used_);
    used_ = 0;
  }

  void WriteToFile(const char* data, size_t size) {
    while (size > 0 && !failed_) {
      DWORD written = 0;
      if (!WriteFile(file_.Get(), data, static_cast<DWORD>(size), &written, nullptr) || written == 0) failed_ = true;
      data += written;
      size -= written;
      unflushed_ += written;
    }
  }

  std::string target_;
  std::string temporary_;
  UniqueHandle file_;
  const HeldNames* names_;
  bool failed_ = false;
  bool committed_ = false;
  std::vector<char> block_;  // made for the first small write, grown up to kIoBlock
  size_t used_ = 0;
  uint64_t unflushed_ = 0;  // written since the last flush started
  BackgroundFlush flush_;
};

// FindFirstFileA has already read the first entry when it opens the listing; it is held
// until Next asks for it.
class Win32DirectoryListing : public DirectoryListing {
 public:
  explicit Win32DirectoryListing(const std::string& pattern)
      : find_(FindFirstFileA(pattern.c_str(), &entry_)), pending_(find_.Valid()) {}

  std::optional<DirectoryEntry> Next() override {
    while (pending_) {
      DirectoryEntry entry{entry_.cFileName, (entry_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
      pending_ = FindNextFileA(find_.Get(), &entry_) != FALSE;
      if (entry.name != "." && entry.name != "..") return entry;
    }
    return std::nullopt;
  }

 private:
  WIN32_FIND_DATAA entry_{};
  UniqueFind find_;
  bool pending_;
};

}  // namespace

Win32FileSystem::Win32FileSystem() : names_(std::make_unique<HeldNames>()) {}
Win32FileSystem::~Win32FileSystem() = default;

// Below a held directory, what the run sees there is what it will change there.
bool Win32FileSystem::FileExists(const std::string& path) {
  const DWORD attributes = names_->Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::DirectoryExists(const std::string& path) {
  const DWORD attributes = names_->Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<InputFile> Win32FileSystem::OpenForReading(const std::string& path) {
  UniqueHandle file = names_->Open(path, {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING});
  if (!file.Valid()) return nullptr;
  return std::make_unique<Win32InputFile>(std::move(file));
}

std::unique_ptr<InputFile> Win32FileSystem::OpenHeldAgainstWriters(const std::string& path) {
  // Sharing read only: an open for writing fails with a sharing violation, and so do a
  // rename or a delete, as they need the delete access this handle does not share. An open
  // that already writes makes this one fail in turn.
  UniqueHandle file = names_->Open(path, {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING});
  if (!file.Valid()) return nullptr;
  return std::make_unique<Win32InputFile>(std::move(file));
}

HeldForRunning Win32FileSystem::OpenHeldForRunning(const std::string& path) {
  // As OpenHeldAgainstWriters, on the name itself: a link is opened as the link, and found.
  UniqueHandle file =
      names_->Open(path, {GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT});
  if (!file.Valid()) return {};
  const FileTrust trust = win32::TrustOfCode(file.Get(), DirectoryOf(path));
  return {trust, std::make_unique<Win32InputFile>(std::move(file))};
}

std::unique_ptr<OutputFile> Win32FileSystem::CreateReplacement(const std::string& path) {
  // A name nobody can plant beforehand; a collision (or a planted name) only costs a try.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string temporary = JoinPath(DirectoryOf(path), "vrn" + HexOf(UnpredictableNumber()) + ".tmp");
    if (auto output = CreateReplacementNamed(path, temporary)) return output;
    if (!DirectoryExists(DirectoryOf(path))) break;
  }
  return nullptr;
}

std::unique_ptr<OutputFile> Win32FileSystem::CreateReplacementNamed(const std::string& path, const std::string& temporary) {
  // CREATE_NEW fails on any existing name, a link or a junction included, so the elevated
  // process never writes through something another user put there; the bytes go through
  // this very handle, which shares nothing while it is open.
  // In a held directory, the same file is later renamed and, if dropped, deleted through
  // this handle, hence its delete access.
  const bool held = names_->ParentOf(temporary).has_value();
  UniqueHandle file = names_->Open(temporary, {GENERIC_WRITE | (held ? DWORD{DELETE} : DWORD{0}), 0, CREATE_NEW});
  if (!file.Valid()) return nullptr;
  return std::make_unique<Win32OutputFile>(path, temporary, std::move(file), held ? names_.get() : nullptr);
}

bool Win32FileSystem::RemoveAtRestart(const std::string& path) {
  return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

uint64_t Win32FileSystem::UnpredictableNumber() {
  // RtlGenRandom, exported by advapi32 as SystemFunction036 since Windows XP.
  using GenRandom = BOOLEAN(WINAPI*)(void*, ULONG);
  uint64_t number = 0;
  if (const HMODULE advapi = GetModuleHandleA("advapi32.dll")) {
    const auto generate =
        reinterpret_cast<GenRandom>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")));
    if (generate && generate(&number, sizeof(number))) return number;
  }
  // Without it, what the clock and the process give: a name that is at least never reused.
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  static uint64_t calls = 0;
  number = static_cast<uint64_t>(counter.QuadPart) * 0x9E3779B97F4A7C15ull ^ (uint64_t{GetCurrentProcessId()} << 32) ^
           GetTickCount() ^ ++calls;
  return number;
}

namespace {

// The link itself, never what it leads to; a directory too (backup semantics), so that the
// caller can tell one from a file.
UniqueHandle OpenNotFollowing(const HeldNames& names, const std::string& path, DWORD access) {
  return names.Open(path, {access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS});
}

// Opened as MoveFileExA opens what it renames: the name itself, a link or a directory alike.
OpenRequest ToRename(DWORD flags = 0) {
  return {DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS | flags};
}

}  // namespace

bool Win32FileSystem::MoveFileTo(const std::string& from, const std::string& to) {
  if (!names_->ParentOf(from) && !names_->ParentOf(to)) return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
  const UniqueHandle source = names_->Open(from, ToRename());
  if (!source.Valid()) return false;
  if (names_->Rename(source.Get(), to, false)) return true;
  // A rename stays on its volume; MoveFileA copies a file to another, which no caller below
  // a held directory asks.
  return GetLastError() == ERROR_NOT_SAME_DEVICE && ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool Win32FileSystem::RemoveFile(const std::string& path) {
  if (!names_->ParentOf(path)) return ::DeleteFileA(path.c_str()) != FALSE;
  // As DeleteFileA: a link is deleted, not what it leads to; a directory is not a file.
  const UniqueHandle file =
      names_->Open(path, {DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT});
  return file.Valid() && DeleteThroughHandle(file.Get());
}

bool Win32FileSystem::MakeDirectory(const std::string& path) {
  if (!names_->ParentOf(path)) return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
  return names_->MakeDirectory(path, false).Valid();
}

bool Win32FileSystem::MakeProtectedDirectory(const std::string& path) { return win32::MakeProtectedDirectory(path); }

FileTrust Win32FileSystem::TrustOfDirectory(const std::string& path, bool othersMayAdd) {
  return win32::TrustOfDirectory(path, othersMayAdd);
}

namespace {

class Win32AppendingFile : public AppendingFile {
 public:
  explicit Win32AppendingFile(UniqueHandle file) : file_(std::move(file)) {}

  // One flush takes these bytes and whatever was appended before them without one.
  bool Append(std::string_view bytes) override {
    if (!flush_.WaitFlushed()) flushFailed_ = true;
    if (flushFailed_ || !Write(bytes) || !FlushFileBuffers(file_.Get())) return !(flushFailed_ = true);
    unflushed_ = started_ = false;
    return true;
  }

  // The first record after a wait starts its flush on a flush thread, so that a large
  // file's bytes are written while the disk takes its record; the records that follow it
  // before the next wait (a whole archive's small files, announced one after the other)
  // are only written, and the wait flushes them all at once. A flush started for each cost
  // a flush a file, and on a synchronous handle Windows makes a write wait for the flush
  // under way: this one waits at most once.
  bool AppendFlushingLater(std::string_view bytes) override {
    if (flushFailed_ || !Write(bytes)) return false;
    if (started_) {
      unflushed_ = true;
    } else if (!flush_.Start(file_.Get())) {
      flushFailed_ = true;
    }
    started_ = true;
    return !flushFailed_;
  }

  // A failed flush stays failed: what it should have made durable may never reach the disk.
  bool WaitFlushed() override {
    if (!flush_.WaitFlushed()) flushFailed_ = true;
    if (!flushFailed_ && unflushed_ && !FlushFileBuffers(file_.Get())) flushFailed_ = true;
    unflushed_ = started_ = false;
    return !flushFailed_;
  }

 private:
  bool Write(std::string_view bytes) {
    DWORD written = 0;
    // The handle has only FILE_APPEND_DATA, so every write lands at the end of the file.
    return WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }

  UniqueHandle file_;
  bool flushFailed_ = false;
  bool started_ = false;    // a flush was started since the last wait
  bool unflushed_ = false;  // appended since that flush started
  BackgroundFlush flush_;   // last: it waits for its flush before the handle closes
};

}  // namespace

std::unique_ptr<AppendingFile> Win32FileSystem::OpenForAppending(const std::string& path) {
  UniqueHandle file = names_->Open(path, {FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, OPEN_ALWAYS});
  if (!file.Valid()) return nullptr;
  return std::make_unique<Win32AppendingFile>(std::move(file));
}

std::unique_ptr<AppendingFile> Win32FileSystem::CreateProtectedForAppending(const std::string& path, bool* ownerRefused) {
  UniqueHandle file = CreateProtectedFile(path, ownerRefused, *names_);
  if (!file.Valid()) return nullptr;
  return std::make_unique<Win32AppendingFile>(std::move(file));
}

ProtectedFileRead Win32FileSystem::ReadProtectedFile(const std::string& path) {
  return win32::ReadProtectedFile(path, *names_);
}

bool Win32FileSystem::MoveFileReplacing(const std::string& from, const std::string& to) {
  if (!names_->ParentOf(from) && !names_->ParentOf(to)) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  // Opened write-through, the rename made through the handle is on the disk when it returns.
  const UniqueHandle source = names_->Open(from, ToRename(FILE_FLAG_WRITE_THROUGH));
  return source.Valid() && names_->Rename(source.Get(), to, true);
}

bool Win32FileSystem::FlushFile(const std::string& path) {
  // Opened for writing, sharing everything: FlushFileBuffers needs write access, and the
  // shell may still hold the file it saved.
  const UniqueHandle file = names_->Open(path, {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT});
  return file.Valid() && FlushFileBuffers(file.Get()) != FALSE;
}

bool Win32FileSystem::FlushVolume(const std::string& path) {
  char root[MAX_PATH] = {};
  if (!GetVolumePathNameA(path.c_str(), root, sizeof(root))) return false;
  // A drive's volume opens as "\\.\C:"; a volume mounted in a folder by its GUID name.
  std::string device;
  if (root[0] && root[1] == ':' && root[2] == '\\' && !root[3]) {
    device = std::string("\\\\.\\") + root[0] + ":";
  } else {
    char name[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointA(root, name, sizeof(name))) return false;
    device = WithoutTrailingBackslash(name);
  }
  // Flushing a volume asks for write access to it, which administrators have.
  UniqueHandle volume(CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  return volume.Valid() && FlushFileBuffers(volume.Get()) != FALSE;
}

std::optional<uint64_t> Win32FileSystem::FreeBytes(const std::string& directory) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

bool Win32FileSystem::CanReplace(const std::string& path) {
  // The access a replacement needs: writing (refused on a read-only file) and deletion,
  // with the sharing that lets only readers in. A program that holds the file open for
  // writing, or without sharing deletion, makes this fail with a sharing violation.
  return names_->Open(path, {GENERIC_WRITE | DELETE, FILE_SHARE_READ, OPEN_EXISTING}).Valid();
}

bool Win32FileSystem::IsLinked(const std::string& path) {
  // The attributes of a link are its own, not its target's: a symbolic link or a junction
  // shows as a reparse point here without being followed.
  const DWORD attributes = names_->Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  // Hard links are told only by the file's count of names. Opening for its attributes
  // alone, sharing everything, disturbs no other program that holds it.
  const UniqueHandle file = OpenNotFollowing(*names_, path, FILE_READ_ATTRIBUTES);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file.Valid() || !GetFileInformationByHandle(file.Get(), &information)) return false;
  return (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || information.nNumberOfLinks > 1;
}

bool Win32FileSystem::RemoveEmptyDirectory(const std::string& path) {
  if (!names_->ParentOf(path)) return ::RemoveDirectoryA(path.c_str()) != FALSE;
  // As RemoveDirectoryA: a junction or mount point is removed itself, never what it leads to.
  OpenRequest request{DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS};
  request.directoryOnly = true;
  const UniqueHandle directory = names_->Open(path, request);
  return directory.Valid() && DeleteThroughHandle(directory.Get());
}

std::unique_ptr<DirectoryListing> Win32FileSystem::ListMatching(const std::string& pattern) {
  return std::make_unique<Win32DirectoryListing>(pattern);
}

namespace {

// Known to the names by its path while it is held, so that what is named below it is opened
// relative to it.
class Win32HeldDirectory : public HeldDirectory {
 public:
  Win32HeldDirectory(UniqueHandle directory, HeldNames& names, std::string path)
      : directory_(std::move(directory)), names_(names), path_(std::move(path)) {
    names_.Add(path_, directory_.Get());
  }
  ~Win32HeldDirectory() override { names_.Remove(path_, directory_.Get()); }

 private:
  UniqueHandle directory_;
  HeldNames& names_;
  std::string path_;
};

FileId IdOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return {information.dwVolumeSerialNumber,
          (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

}  // namespace

HeldDirectoryOpen Win32FileSystem::HoldDirectory(const std::string& path) {
  // Listing access, because a handle that asks for attributes only records no sharing and
  // refuses nobody; without FILE_SHARE_DELETE, nobody can open the directory for deletion,
  // which a rename or a removal of it needs, while this handle is open. Readers and writers
  // of its entries are not disturbed.
  UniqueHandle directory =
      names_->Open(path, {FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT});
  if (!directory.Valid()) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
    return {missing ? DirectoryHold::Missing : DirectoryHold::Refused, nullptr};
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(directory.Get(), &information)) return {DirectoryHold::Refused, nullptr};
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {DirectoryHold::Linked, nullptr};
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {DirectoryHold::Missing, nullptr};
  return {DirectoryHold::Held, std::make_unique<Win32HeldDirectory>(std::move(directory), *names_, path)};
}

HeldDirectoryOpen Win32FileSystem::MakeHeldDirectory(const std::string& path) {
  UniqueHandle directory = names_->MakeDirectory(path, true);
  if (!directory.Valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_CALL_NOT_IMPLEMENTED) return FileSystem::MakeHeldDirectory(path);
    return {error == ERROR_PATH_NOT_FOUND ? DirectoryHold::Missing : DirectoryHold::Refused, nullptr};
  }
  return {DirectoryHold::Held, std::make_unique<Win32HeldDirectory>(std::move(directory), *names_, path)};
}

std::optional<FileId> Win32FileSystem::FileIdOf(const std::string& path) {
  const UniqueHandle file = OpenNotFollowing(*names_, path, FILE_READ_ATTRIBUTES);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file.Valid() || !GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  return IdOf(information);
}

bool Win32FileSystem::RemoveFileIfSame(const std::string& path, const FileId& id) {
  const UniqueHandle file = OpenNotFollowing(*names_, path, DELETE | FILE_READ_ATTRIBUTES);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file.Valid() || !GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !(IdOf(information) == id)) {
    return false;
  }
  return DeleteThroughHandle(file.Get());
}

}  // namespace varno::win32
