#include "platform/win32/win32_held_names.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "base/ansi_text.h"
#include "base/windows_path.h"

namespace varno::win32 {
namespace {

// The native structures, declared here rather than taken from <winternl.h>, whose MinGW and
// Windows SDK versions disagree on them.
struct CountedName {
  USHORT length;  // in bytes
  USHORT maximumLength;
  WCHAR* buffer;
};

struct ObjectAttributes {
  ULONG length;
  HANDLE rootDirectory;
  CountedName* objectName;
  ULONG attributes;
  void* securityDescriptor;
  void* securityQualityOfService;
};

struct StatusBlock {
  union {
    LONG status;
    void* pointer;
  };
  ULONG_PTR information;
};

struct BasicInformation {
  LARGE_INTEGER creationTime;
  LARGE_INTEGER lastAccessTime;
  LARGE_INTEGER lastWriteTime;
  LARGE_INTEGER changeTime;
  ULONG fileAttributes;
};

struct RenameInformation {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG fileNameLength;
  WCHAR fileName[1];
};

constexpr ULONG kCaseInsensitive = 0x40;  // OBJ_CASE_INSENSITIVE, as CreateFileA asks

// NtCreateFile's dispositions and options.
constexpr ULONG kOpen = 1, kCreate = 2, kOpenIf = 3, kOverwrite = 4, kOverwriteIf = 5;
constexpr ULONG kDirectoryFile = 0x1, kWriteThrough = 0x2, kSynchronousIo = 0x20, kNonDirectoryFile = 0x40,
                kOpenForBackupIntent = 0x4000, kOpenReparsePoint = 0x200000;
constexpr ULONG kValidAttributes = 0x7FA7;  // FILE_ATTRIBUTE_VALID_FLAGS

constexpr ULONG kFileBasicInformation = 4;
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileDispositionInformation = 13;

template <typename Call>
Call Lookup(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The full path the A functions would open, or empty.
std::string FullPathOf(const std::string& path) {
  std::string full(MAX_PATH, '\0');
  DWORD size = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (size >= full.size()) {
    full.assign(size, '\0');
    size = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (size >= full.size()) return {};
  }
  full.resize(size);
  return full;
}

// A drive or share path; a device ("\\.\", "\\?\") has no directory to be held.
bool IsPlain(const std::string& full) {
  if (full.size() >= 3 && full[1] == ':' && full[2] == '\\') return true;
  return full.size() > 4 && full.starts_with("\\\\") && full[2] != '.' && full[2] != '?';
}

std::string KeyOf(const std::string& full) { return AnsiUpperCase(WithoutTrailingBackslash(full)); }

// The name as the A functions turn it into the system's characters: through the ANSI code
// page, as the program never switches them to the OEM one.
std::wstring Widen(const std::string& name) {
  const UINT codePage = CP_ACP;
  const int size = static_cast<int>(name.size());
  std::wstring wide(static_cast<size_t>(MultiByteToWideChar(codePage, 0, name.data(), size, nullptr, 0)), L'\0');
  if (!wide.empty()) MultiByteToWideChar(codePage, 0, name.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

ULONG NtDisposition(DWORD disposition) {
  switch (disposition) {
    case CREATE_NEW: return kCreate;
    case CREATE_ALWAYS: return kOverwriteIf;
    case OPEN_ALWAYS: return kOpenIf;
    case TRUNCATE_EXISTING: return kOverwrite;
    default: return kOpen;
  }
}

}  // namespace

HeldNames::HeldNames() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  createFile_ = Lookup<CreateFileCall>(ntdll, "NtCreateFile");
  setInformation_ = Lookup<SetInformationCall>(ntdll, "NtSetInformationFile");
  statusToError_ = Lookup<StatusToErrorCall>(ntdll, "RtlNtStatusToDosError");
  queryInformation_ = Lookup<QueryInformationCall>(ntdll, "NtQueryInformationFile");
}

void HeldNames::Add(const std::string& path, HANDLE directory) { held_.emplace(KeyOf(FullPathOf(path)), directory); }

void HeldNames::Remove(const std::string& path, HANDLE directory) {
  auto [first, last] = held_.equal_range(KeyOf(FullPathOf(path)));
  for (auto it = first; it != last; ++it) {
    if (it->second == directory) {
      held_.erase(it);
      return;
    }
  }
}

std::optional<HeldParent> HeldNames::ParentOf(const std::string& path) const {
  if (held_.empty() || !Available()) return std::nullopt;
  const std::string full = FullPathOf(path);
  if (!IsPlain(full)) return std::nullopt;
  const std::string name(LastComponent(full));
  const std::string parent = varno::ParentOf(full);
  if (name.empty() || parent.empty()) return std::nullopt;
  const auto held = held_.find(KeyOf(parent));
  if (held == held_.end()) return std::nullopt;
  return HeldParent{held->second, name};
}

void HeldNames::Fail(LONG status) const { SetLastError(statusToError_(status)); }

UniqueHandle HeldNames::CreateBelow(HANDLE root, const std::string& name, ACCESS_MASK access, ULONG attributes,
                                    ULONG share, ULONG disposition, ULONG options,
                                    PSECURITY_DESCRIPTOR security) const {
  std::wstring wide = Widen(name);
  const size_t bytes = wide.size() * sizeof(WCHAR);
  if (wide.empty() || bytes > 0xFFF0) {
    SetLastError(ERROR_INVALID_NAME);
    return {};
  }
  CountedName counted{static_cast<USHORT>(bytes), static_cast<USHORT>(bytes), wide.data()};
  ObjectAttributes object{sizeof(ObjectAttributes), root, &counted, kCaseInsensitive, security, nullptr};
  StatusBlock io{};
  HANDLE handle = nullptr;
  const LONG status =
      createFile_(&handle, access, &object, &io, nullptr, attributes, share, disposition, options, nullptr, 0);
  if (status < 0) {
    Fail(status);
    return {};
  }
  return UniqueHandle(handle);
}

DWORD HeldNames::Attributes(const std::string& path) const {
  if (!ParentOf(path)) return GetFileAttributesA(path.c_str());
  // Opened for its attributes alone, sharing everything: no other program that holds it is
  // disturbed. (Wine's NtQueryAttributesFile, which would save the open, ignores the root
  // directory; its GetFileInformationByHandle asks for the volume's too, which made each
  // look-up 25 times slower than this one question.)
  const UniqueHandle file = Open(path, {FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS});
  if (!file.Valid()) return INVALID_FILE_ATTRIBUTES;
  BasicInformation information{};
  StatusBlock io{};
  if (!queryInformation_) {
    BY_HANDLE_FILE_INFORMATION whole{};
    return GetFileInformationByHandle(file.Get(), &whole) ? whole.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
  }
  const LONG status = queryInformation_(file.Get(), &io, &information, sizeof(information), kFileBasicInformation);
  if (status < 0) {
    Fail(status);
    return INVALID_FILE_ATTRIBUTES;
  }
  return information.fileAttributes;
}

UniqueHandle HeldNames::Open(const std::string& path, const OpenRequest& request) const {
  const std::optional<HeldParent> parent = ParentOf(path);
  if (!parent) {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), request.security, FALSE};
    return UniqueHandle(CreateFileA(path.c_str(), request.access, request.share,
                                    request.security ? &attributes : nullptr, request.disposition,
                                    request.flagsAndAttributes, nullptr));
  }
  // What CreateFileA itself asks of the system for these arguments.
  const DWORD flags = request.flagsAndAttributes;
  ULONG options = kSynchronousIo;
  options |= (flags & FILE_FLAG_BACKUP_SEMANTICS) ? kOpenForBackupIntent : kNonDirectoryFile;
  if (request.directoryOnly) options |= kDirectoryFile;
  if (flags & FILE_FLAG_OPEN_REPARSE_POINT) options |= kOpenReparsePoint;
  if (flags & FILE_FLAG_WRITE_THROUGH) options |= kWriteThrough;
  return CreateBelow(parent->directory, parent->name, request.access | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                     flags & kValidAttributes, request.share, NtDisposition(request.disposition), options,
                     request.security);
}

std::string HeldNames::NtNameOf(const std::string& full) {
  if (full.size() >= 3 && full[1] == ':' && full[2] == '\\') return "\\??\\" + full;
  if (IsPlain(full)) return "\\??\\UNC\\" + full.substr(2);
  return {};
}

UniqueHandle HeldNames::MakeDirectory(const std::string& path, bool hold) const {
  // Held: listing access, as a handle that asks for attributes only records no sharing;
  // without delete sharing, so that nobody can rename or remove it.
  const ACCESS_MASK access = hold ? FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE
                                  : FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | (hold ? 0 : FILE_SHARE_DELETE);
  const ULONG options = kDirectoryFile | kSynchronousIo | kOpenForBackupIntent | kOpenReparsePoint;
  if (!Available()) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return {};
  }
  if (const std::optional<HeldParent> parent = ParentOf(path)) {
    return CreateBelow(parent->directory, parent->name, access, FILE_ATTRIBUTE_NORMAL, share, kCreate, options,
                       nullptr);
  }
  const std::string name = NtNameOf(FullPathOf(path));
  if (name.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return {};
  }
  return CreateBelow(nullptr, name, access, FILE_ATTRIBUTE_NORMAL, share, kCreate, options, nullptr);
}

bool HeldNames::Rename(HANDLE file, const std::string& to, bool replace) const {
  HANDLE root = nullptr;
  std::string name;
  if (const std::optional<HeldParent> parent = ParentOf(to)) {
    root = parent->directory;
    name = parent->name;
  } else {
    name = NtNameOf(FullPathOf(to));
  }
  const std::wstring wide = Widen(name);
  if (!Available() || wide.empty()) {
    SetLastError(Available() ? ERROR_INVALID_NAME : ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  const size_t bytes = wide.size() * sizeof(WCHAR);
  std::vector<unsigned char> buffer(sizeof(RenameInformation) + bytes, 0);
  auto* information = reinterpret_cast<RenameInformation*>(buffer.data());
  information->replaceIfExists = replace ? TRUE : FALSE;
  information->rootDirectory = root;
  information->fileNameLength = static_cast<ULONG>(bytes);
  std::memcpy(buffer.data() + offsetof(RenameInformation, fileName), wide.data(), bytes);
  StatusBlock io{};
  const LONG status =
      setInformation_(file, &io, information, static_cast<ULONG>(buffer.size()), kFileRenameInformation);
  if (status < 0) {
    Fail(status);
    return false;
  }
  return true;
}

bool DeleteThroughHandle(HANDLE file) {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  using SetInformation = LONG(WINAPI*)(HANDLE, StatusBlock*, void*, ULONG, ULONG);
  using StatusToError = ULONG(WINAPI*)(LONG);
  const auto set = Lookup<SetInformation>(ntdll, "NtSetInformationFile");
  const auto toError = Lookup<StatusToError>(ntdll, "RtlNtStatusToDosError");
  if (!set || !toError) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  StatusBlock io{};
  BOOLEAN deleteFile = TRUE;
  const LONG status = set(file, &io, &deleteFile, sizeof(deleteFile), kFileDispositionInformation);
  if (status < 0) SetLastError(toError(status));
  return status >= 0;
}

}  // namespace varno::win32
