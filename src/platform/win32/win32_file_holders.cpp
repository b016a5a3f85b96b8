#include "platform/win32/win32_file_holders.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "platform/win32/win32_libraries.h"

namespace varno::win32 {
namespace {

// Declared here: the program is built for XP, where the headers know nothing newer, and
// everything past XP is reached through GetProcAddress.
constexpr DWORD kProcessQueryLimitedInformation = 0x1000;
constexpr LPARAM kEndSessionCloseApp = 0x1;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessWow64Information = 26;

struct CountedString {
  USHORT length;
  USHORT maximumLength;
  WCHAR* buffer;
};
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
struct BasicProcessInformation {
  LONG exitStatus;
  void* pebBaseAddress;
  ULONG_PTR affinityMask;
  LONG basePriority;
  ULONG_PTR processId;
  ULONG_PTR parentProcessId;
};
using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using NtQueryObjectFn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, char*, DWORD*);
using WtsQueryUserTokenFn = BOOL(WINAPI*)(ULONG, HANDLE*);
using CreateProcessAsUserFn = BOOL(WINAPI*)(HANDLE, const char*, char*, SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*,
                                            BOOL, DWORD, void*, const char*, STARTUPINFOA*, PROCESS_INFORMATION*);
using ProcessIdToSessionIdFn = BOOL(WINAPI*)(DWORD, DWORD*);

// The Restart Manager.
struct RmUniqueProcess {
  DWORD processId;
  FILETIME startTime;
};
struct RmProcessInfo {
  RmUniqueProcess process;
  WCHAR appName[256];
  WCHAR serviceShortName[64];
  int appType;
  ULONG appStatus;
  DWORD sessionId;
  BOOL restartable;
};
using RmStartSessionFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RmRegisterResourcesFn = DWORD(WINAPI*)(DWORD, UINT, const WCHAR**, UINT, void*, UINT, const WCHAR**);
using RmGetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RmProcessInfo*, DWORD*);
using RmShutdownFn = DWORD(WINAPI*)(DWORD, ULONG, void*);
using RmEndSessionFn = DWORD(WINAPI*)(DWORD);

template <typename Function>
Function NtdllExport(const char* name) {
  return ExportOf<Function>(GetModuleHandleA("ntdll.dll"), name);
}

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(wide.size() - 1);
  return wide;
}

std::string Ansi(const WCHAR* text, int count) {
  if (count <= 0) return {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
  std::string ansi(length > 0 ? length : 0, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, count, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

bool SamePath(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// The holders found so far, each process once, each file once per process.
class Findings {
 public:
  explicit Findings(const std::vector<std::string>& paths) : paths_(paths) {}

  // Records the process as a holder of every path asked about that names this file.
  void Held(DWORD processId, const std::string& file) {
    for (const std::string& path : paths_) {
      if (SamePath(path, file)) Add(processId, path);
    }
  }
  void Add(DWORD processId, const std::string& path) {
    if (processId == GetCurrentProcessId() || processId == 0) return;
    auto holder = std::find_if(holders_.begin(), holders_.end(),
                               [&](const FileHolder& h) { return h.processId == processId; });
    if (holder == holders_.end()) {
      holders_.push_back(FileHolder{processId, {}, {}, {}, {}, {}});
      holder = holders_.end() - 1;
    }
    if (std::find(holder->files.begin(), holder->files.end(), path) == holder->files.end()) holder->files.push_back(path);
  }
  const std::vector<std::string>& Paths() const { return paths_; }
  std::vector<FileHolder>& Holders() { return holders_; }

 private:
  const std::vector<std::string>& paths_;
  std::vector<FileHolder> holders_;
};

UniqueHandle OpenForQuery(DWORD processId, DWORD more = 0) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | more, FALSE, processId);
  // A process of another user or a protected one answers only the limited query (Vista on).
  if (!process && more == 0) process = OpenProcess(kProcessQueryLimitedInformation, FALSE, processId);
  return UniqueHandle(process);
}

// The modules a process has loaded, its program first. A 32-bit updater cannot list those of
// a 64-bit process: empty then.
std::vector<std::string> ModulesOf(DWORD processId) {
  std::vector<std::string> modules;
  UniqueHandle snapshot;
  // The snapshot fails now and then while the process loads a module: once more then.
  for (int attempt = 0; attempt < 2 && !snapshot.Valid(); ++attempt) {
    snapshot = UniqueHandle(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
  }
  if (!snapshot.Valid()) return modules;
  MODULEENTRY32 module{};
  module.dwSize = sizeof(module);
  for (BOOL more = Module32First(snapshot.Get(), &module); more; more = Module32Next(snapshot.Get(), &module)) {
    modules.push_back(module.szExePath);
  }
  return modules;
}

std::string ImageOf(DWORD processId) {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (const auto query = ExportOf<QueryFullProcessImageNameFn>(kernel, "QueryFullProcessImageNameA")) {
    const UniqueHandle process = OpenForQuery(processId);
    char image[MAX_PATH * 2] = {};
    DWORD size = sizeof(image);
    if (process.Valid() && query(process.Get(), 0, image, &size)) return std::string(image, size);
  }
  const std::vector<std::string> modules = ModulesOf(processId);
  return modules.empty() ? std::string() : modules.front();
}

std::string UserOf(DWORD processId) {
  const UniqueHandle process = OpenForQuery(processId);
  HANDLE token = nullptr;
  if (!process.Valid() || !OpenProcessToken(process.Get(), TOKEN_QUERY, &token)) return {};
  const UniqueHandle tokenHolder(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  const SID* sid = static_cast<SID*>(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
  char name[256] = {};
  char domain[256] = {};
  DWORD nameSize = sizeof(name);
  DWORD domainSize = sizeof(domain);
  SID_NAME_USE use;
  if (!LookupAccountSidA(nullptr, const_cast<SID*>(sid), name, &nameSize, domain, &domainSize, &use)) return {};
  return domain[0] ? std::string(domain) + "\\" + name : std::string(name);
}

bool ReadRemote(HANDLE process, ULONG_PTR address, void* into, size_t size) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, reinterpret_cast<const void*>(address), into, size, &read) && read == size;
}

bool ReadRemoteString(HANDLE process, const CountedString& counted, std::string& text) {
  if (counted.length % 2 != 0 || counted.length > 0x8000) return false;
  std::wstring wide(counted.length / 2, L'\0');
  if (!wide.empty() && !ReadRemote(process, reinterpret_cast<ULONG_PTR>(counted.buffer), wide.data(), counted.length)) {
    return false;
  }
  text = Ansi(wide.data(), static_cast<int>(wide.size()));
  return true;
}

// The command line and current directory a 32-bit process was started with, from its
// process parameters (through its environment block, the PEB). A 64-bit process's are out
// of a 32-bit reader's reach: left empty.
void ReadStartup(DWORD processId, FileHolder& holder) {
  const auto query = NtdllExport<NtQueryInformationProcessFn>("NtQueryInformationProcess");
  const UniqueHandle process = OpenForQuery(processId, PROCESS_VM_READ);
  if (!query || !process.Valid()) return;
  // Under a 64-bit Windows the basic information gives the 64-bit block: a 32-bit process's
  // own one comes from the WOW64 query. Wine answers that query with a mere flag.
  ULONG_PTR peb = 0;
  if (query(process.Get(), kProcessWow64Information, &peb, sizeof(peb), nullptr) < 0 || peb < 0x10000) peb = 0;
  BasicProcessInformation basic{};
  if (peb == 0 && query(process.Get(), kProcessBasicInformation, &basic, sizeof(basic), nullptr) >= 0) {
    peb = reinterpret_cast<ULONG_PTR>(basic.pebBaseAddress);
  }
  ULONG_PTR parameters = 0;
  if (peb == 0 || !ReadRemote(process.Get(), peb + 0x10, &parameters, sizeof(parameters)) || parameters == 0) return;
  CountedString directory{};
  CountedString commandLine{};
  std::string directoryText;
  std::string commandLineText;
  if (ReadRemote(process.Get(), parameters + 0x24, &directory, sizeof(directory)) &&
      ReadRemote(process.Get(), parameters + 0x40, &commandLine, sizeof(commandLine)) &&
      ReadRemoteString(process.Get(), directory, directoryText) &&
      ReadRemoteString(process.Get(), commandLine, commandLineText)) {
    holder.currentDirectory = directoryText;
    holder.commandLine = commandLineText;
  }
}

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
      if (name->buffer) queries.names[i] = Ansi(name->buffer, name->length / 2);
    }
    return 0;
  }
};

void FilesOpenedByHandle(Findings& findings) {
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
    if (!queries->names[i].empty()) findings.Held(owners[i], dos.Of(queries->names[i]));
    CloseHandle(queries->handles[i]);
  }
}

// The Restart Manager's holders of each file, asked one file at a time so that each holder
// is named with the files it holds.
template <typename Each>
void WithRestartManager(const std::vector<std::string>& paths, Each each) {
  const HMODULE loaded = LoadSystemLibrary("rstrtmgr.dll");
  if (!loaded) return;  // before Vista
  const auto start = ExportOf<RmStartSessionFn>(loaded, "RmStartSession");
  const auto add = ExportOf<RmRegisterResourcesFn>(loaded, "RmRegisterResources");
  const auto list = ExportOf<RmGetListFn>(loaded, "RmGetList");
  const auto shutdown = ExportOf<RmShutdownFn>(loaded, "RmShutdown");
  const auto end = ExportOf<RmEndSessionFn>(loaded, "RmEndSession");
  DWORD session = 0;
  WCHAR key[33] = {};
  if (start && add && list && shutdown && end && start(&session, 0, key) == ERROR_SUCCESS) {
    std::vector<std::wstring> wide;
    for (const std::string& path : paths) wide.push_back(Wide(path));
    std::vector<const WCHAR*> names;
    for (const std::wstring& name : wide) names.push_back(name.c_str());
    if (add(session, static_cast<UINT>(names.size()), names.data(), 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
      each(session, list, shutdown);
    }
    end(session);
  }
  FreeLibrary(loaded);
}

void RestartManagerHolders(Findings& findings) {
  for (const std::string& path : findings.Paths()) {
    WithRestartManager({path}, [&](DWORD session, RmGetListFn list, RmShutdownFn) {
      UINT needed = 0;
      UINT count = 0;
      DWORD reasons = 0;
      if (list(session, &needed, &count, nullptr, &reasons) != ERROR_MORE_DATA || needed == 0) return;
      std::vector<RmProcessInfo> found(needed);
      count = needed;
      if (list(session, &needed, &count, found.data(), &reasons) != ERROR_SUCCESS) return;
      for (UINT i = 0; i < count; ++i) findings.Add(found[i].process.processId, path);
    });
  }
}

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM search) {
  auto& found = *reinterpret_cast<WindowSearch*>(search);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == found.processId && IsWindowVisible(window)) found.windows.push_back(window);
  return TRUE;
}

bool IsSystemAccount() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const UniqueHandle holder(token);
  char buffer[256];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID system = nullptr;
  if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) return false;
  const bool same = EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, system);
  FreeSid(system);
  return same;
}

}  // namespace

std::vector<FileHolder> Win32FileHolders::Find(const std::vector<std::string>& paths) {
  Findings findings(paths);
  std::map<DWORD, std::string> exeNames;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = snapshot.Valid() && Process32First(snapshot.Get(), &entry); more;
       more = Process32Next(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == 0 || entry.th32ProcessID == GetCurrentProcessId()) continue;
    exeNames[entry.th32ProcessID] = entry.szExeFile;
    std::vector<std::string> modules = ModulesOf(entry.th32ProcessID);
    // A 64-bit process hides its modules from a 32-bit updater; its program still shows.
    if (modules.empty()) modules.push_back(ImageOf(entry.th32ProcessID));
    for (const std::string& module : modules) findings.Held(entry.th32ProcessID, module);
  }
  FilesOpenedByHandle(findings);
  RestartManagerHolders(findings);

  const auto sessionOf =
      ExportOf<ProcessIdToSessionIdFn>(GetModuleHandleA("kernel32.dll"), "ProcessIdToSessionId");
  for (FileHolder& holder : findings.Holders()) {
    holder.program = ImageOf(holder.processId);
    if (holder.program.empty()) holder.program = exeNames[holder.processId];
    holder.user = UserOf(holder.processId);
    ReadStartup(holder.processId, holder);
    DWORD session = 0;
    if (sessionOf && sessionOf(holder.processId, &session)) sessions_[holder.processId] = session;
  }
  return findings.Holders();
}

EndRequest Win32FileHolders::AskToEnd(const FileHolder& holder) {
  const UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, holder.processId));
  if (!process.Valid()) return EndRequest::StillRunning;
  WindowSearch search{holder.processId, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  if (search.windows.empty()) {
    // Run as a service, the updater sees no window of the user's session: the Restart
    // Manager reaches them, where there is one.
    bool asked = false;
    WithRestartManager(holder.files, [&](DWORD session, RmGetListFn, RmShutdownFn shutdown) {
      asked = shutdown(session, 0, nullptr) == ERROR_SUCCESS;
    });
    if (!asked) return EndRequest::StillRunning;
    return WaitForSingleObject(process.Get(), 10000) == WAIT_OBJECT_0 ? EndRequest::Ended : EndRequest::StillRunning;
  }
  // Each window may take its time to answer (a program that saves first): about two seconds
  // each is what a program needs under Wine, more is allowed.
  const UINT perWindow = 5000;
  std::vector<HWND> agreed;
  bool refused = false;
  for (HWND window : search.windows) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, kEndSessionCloseApp, SMTO_ABORTIFHUNG, perWindow, &answer) ||
        answer == FALSE) {
      refused = true;
      break;
    }
    agreed.push_back(window);
  }
  // As at a log-off that one program cancelled, those that agreed learn the session goes on.
  for (HWND window : agreed) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_ENDSESSION, refused ? FALSE : TRUE, kEndSessionCloseApp, SMTO_ABORTIFHUNG, perWindow,
                        &ignored);
  }
  if (refused) return EndRequest::Refused;
  const DWORD wait = 5000 + 2000 * static_cast<DWORD>(search.windows.size());
  if (WaitForSingleObject(process.Get(), wait) == WAIT_OBJECT_0) return EndRequest::Ended;
  // At log-off a program that agreed is ended once it was told; it has had its time to save.
  if (TerminateProcess(process.Get(), 0) && WaitForSingleObject(process.Get(), 5000) == WAIT_OBJECT_0) {
    return EndRequest::Ended;
  }
  return EndRequest::StillRunning;
}

bool Win32FileHolders::ForceEnd(const FileHolder& holder) {
  const UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, holder.processId));
  if (!process.Valid()) return GetLastError() == ERROR_INVALID_PARAMETER;  // already gone
  return TerminateProcess(process.Get(), 1) && WaitForSingleObject(process.Get(), 10000) == WAIT_OBJECT_0;
}

bool Win32FileHolders::Restart(const FileHolder& holder) {
  std::string commandLine = holder.commandLine.empty() ? "\"" + holder.program + "\"" : holder.commandLine;
  const char* directory = holder.currentDirectory.empty() ? nullptr : holder.currentDirectory.c_str();
  const char* application = holder.program.find('\\') == std::string::npos ? nullptr : holder.program.c_str();
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  BOOL done = FALSE;
  const auto session = sessions_.find(holder.processId);
  if (IsSystemAccount() && session != sessions_.end()) {
    // Started as the system account, the program would run in no one's session: it runs as
    // the user of the session it was closed in, on that user's desktop.
    const HMODULE wts = LoadSystemLibrary("wtsapi32.dll");
    const HMODULE advapi = GetModuleHandleA("advapi32.dll");
    const auto userToken = wts ? ExportOf<WtsQueryUserTokenFn>(wts, "WTSQueryUserToken") : nullptr;
    const auto createAsUser = ExportOf<CreateProcessAsUserFn>(advapi, "CreateProcessAsUserA");
    HANDLE token = nullptr;
    if (userToken && createAsUser && userToken(session->second, &token)) {
      const UniqueHandle tokenHolder(token);
      char desktop[] = "winsta0\\default";
      startup.lpDesktop = desktop;
      done = createAsUser(token, application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                          &startup, &started);
    }
    if (wts) FreeLibrary(wts);
  } else {
    done = CreateProcessA(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                          &started);
  }
  if (!done) return false;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

}  // namespace varno::win32
