#include "platform/win32/win32_open_files.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

namespace varno::win32 {

std::string AnsiText(const WCHAR* text, int count) {
  if (count <= 0) return {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
  std::string ansi(length > 0 ? length : 0, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, count, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

namespace {

constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr ULONG kObjectNameInformation = 1;

struct HandleEntry {
  ULONG processId;
  UCHAR typeIndex;
  UCHAR flags;
  USHORT handle;
  void* object;
  ACCESS_MASK access;
};
struct ExtendedHandleEntry {
  void* object;
  ULONG_PTR processId;
  ULONG_PTR handle;
  ULONG access;
  USHORT creatorBackTraceIndex;
  USHORT typeIndex;
  ULONG attributes;
  ULONG reserved;
};
using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using NtQueryObjectFn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

bool SamePath(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// "\Device\HarddiskVolume2\x" as "C:\x", and Wine's "\??\C:\x" as "C:\x".
class DosNames {
 public:
  DosNames() {
    char drive[3] = "A:";
    char target[MAX_PATH] = {};
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      drive[0] = letter;
      if (QueryDosDeviceA(drive, target, sizeof(target))) devices_.emplace_back(std::string(target) + "\\", drive);
    }
  }
  std::string Of(const std::string& name) const {
    if (name.rfind("\\??\\", 0) == 0) return name.substr(4);
    for (const auto& [device, drive] : devices_) {
      if (name.size() > device.size() && SamePath(name.substr(0, device.size()), device)) {
        return drive + name.substr(device.size() - 1);
      }
    }
    return name;
  }

 private:
  std::vector<std::pair<std::string, std::string>> devices_;
};

struct OpenHandle {
  DWORD processId;
  HANDLE handle;
  USHORT typeIndex;
};

std::vector<OpenHandle> SystemHandles() {
  std::vector<OpenHandle> handles;
  const auto query = NtdllExport<NtQuerySystemInformationFn>("NtQuerySystemInformation");
  if (!query) return handles;
  for (const ULONG kind : {kSystemExtendedHandleInformation, kSystemHandleInformation}) {
    std::vector<char> buffer(1 << 20);
    LONG status;
    ULONG needed = 0;
    while ((status = query(kind, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
               kStatusInfoLengthMismatch &&
           buffer.size() < (256u << 20)) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
    if (status < 0) continue;
    if (kind == kSystemExtendedHandleInformation) {
      const ULONG_PTR count = *reinterpret_cast<const ULONG_PTR*>(buffer.data());
      const auto* entries = reinterpret_cast<const ExtendedHandleEntry*>(buffer.data() + 2 * sizeof(ULONG_PTR));
      const size_t fit = (buffer.size() - 2 * sizeof(ULONG_PTR)) / sizeof(ExtendedHandleEntry);
      for (ULONG_PTR i = 0; i < count && i < fit; ++i) {
        handles.push_back({static_cast<DWORD>(entries[i].processId), reinterpret_cast<HANDLE>(entries[i].handle),
                           entries[i].typeIndex});
      }
    } else {
      const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
      const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
      const size_t fit = (buffer.size() - sizeof(ULONG_PTR)) / sizeof(HandleEntry);
      for (ULONG i = 0; i < count && i < fit; ++i) {
        handles.push_back({entries[i].processId, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entries[i].handle)),
                           entries[i].typeIndex});
      }
    }
    break;
  }
  return handles;
}

// The names of open files, asked on a thread of their own: asking the name of a pipe that
// another process reads synchronously waits as long as the read does, so a name that takes
// too long is given up, with the thread that asked it.
struct NameQueries {
  std::vector<HANDLE> handles;  // duplicated into the updater
  std::vector<std::string> names;
  std::atomic<size_t> next{0};

  static DWORD WINAPI Run(void* self) {
    auto& queries = *static_cast<NameQueries*>(self);
    const auto query = NtdllExport<NtQueryObjectFn>("NtQueryObject");
    std::vector<char> buffer(4096 * 2 + sizeof(CountedString));
    for (size_t i; (i = queries.next.load()) < queries.handles.size(); queries.next.store(i + 1)) {
      // Only files on disk have names worth asking: a pipe or a console is skipped first.
      if (GetFileType(queries.handles[i]) != FILE_TYPE_DISK) continue;
      ULONG size = 0;
      if (query(queries.handles[i], kObjectNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size) < 0) {
        continue;
      }
      const auto* name = reinterpret_cast<const CountedString*>(buffer.data());
      if (name->buffer) queries.names[i] = AnsiText(name->buffer, name->length / 2);
    }
    return 0;
  }
};

}  // namespace

void ForEachOpenFile(const std::function<void(DWORD processId, const std::string& path)>& each) {
  if (!NtdllExport<NtQueryObjectFn>("NtQueryObject")) return;
  // The type of file handles, learnt from one of the updater's own: only those are copied.
  int fileType = -1;
  std::vector<OpenHandle> handles;
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof(self));
  const UniqueHandle own(CreateFileA(self, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
  handles = SystemHandles();
  if (own.Valid()) {
    for (const OpenHandle& entry : handles) {
      if (entry.processId == GetCurrentProcessId() && entry.handle == own.Get()) fileType = entry.typeIndex;
    }
  }

  auto queries = std::make_unique<NameQueries>();
  std::vector<DWORD> owners;
  std::map<DWORD, UniqueHandle> processes;
  for (const OpenHandle& entry : handles) {
    if (entry.processId == GetCurrentProcessId() || (fileType >= 0 && entry.typeIndex != fileType)) continue;
    auto process = processes.find(entry.processId);
    if (process == processes.end()) {
      process = processes.emplace(entry.processId, UniqueHandle(OpenProcess(PROCESS_DUP_HANDLE, FALSE, entry.processId))).first;
    }
    HANDLE copy = nullptr;
    if (!process->second.Valid() ||
        !DuplicateHandle(process->second.Get(), entry.handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      continue;
    }
    queries->handles.push_back(copy);
    owners.push_back(entry.processId);
  }
  queries->names.resize(queries->handles.size());

  // A thread stuck on one name is left behind, and the next one goes on after it.
  while (queries->next.load() < queries->handles.size()) {
    const UniqueHandle thread(CreateThread(nullptr, 64 * 1024, NameQueries::Run, queries.get(), 0, nullptr));
    if (!thread.Valid()) break;
    size_t seen = queries->next.load();
    while (WaitForSingleObject(thread.Get(), 500) == WAIT_TIMEOUT) {
      const size_t now = queries->next.load();
      if (now != seen) {
        seen = now;
        continue;
      }
      TerminateThread(thread.Get(), 0);
      queries->next.store(now + 1);
      break;
    }
  }
  const DosNames dos;
  for (size_t i = 0; i < queries->handles.size(); ++i) {
    if (!queries->names[i].empty()) each(owners[i], dos.Of(queries->names[i]));
    CloseHandle(queries->handles[i]);
  }
}


}  // namespace varno::win32
