#include "platform/win32/win32_file_holders.h"

#include <tlhelp32.h>

#include <algorithm>
#include <memory>

#include "platform/win32/win32_libraries.h"
#include "platform/win32/win32_open_files.h"

namespace varno::win32 {
namespace {

// Declared here: the program is built for XP, where the headers know nothing newer, and
// everything past XP is reached through GetProcAddress.
constexpr DWORD kProcessQueryLimitedInformation = 0x1000;
constexpr LPARAM kEndSessionCloseApp = 0x1;
constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessWow64Information = 26;

struct BasicProcessInformation {
  LONG exitStatus;
  void* pebBaseAddress;
  ULONG_PTR affinityMask;
  LONG basePriority;
  ULONG_PTR processId;
  ULONG_PTR parentProcessId;
};
using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, char*, DWORD*);
using WtsQueryUserTokenFn = BOOL(WINAPI*)(ULONG, HANDLE*);
using CreateProcessAsUserFn = BOOL(WINAPI*)(HANDLE, const char*, char*, SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*,
                                            BOOL, DWORD, void*, const char*, STARTUPINFOA*, PROCESS_INFORMATION*);
using ProcessIdToSessionIdFn = BOOL(WINAPI*)(DWORD, DWORD*);
using CreateProcessWithTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, const wchar_t*, wchar_t*, DWORD, void*, const wchar_t*,
                                               STARTUPINFOW*, PROCESS_INFORMATION*);
using CreateEnvironmentBlockFn = BOOL(WINAPI*)(void**, HANDLE, BOOL);
using DestroyEnvironmentBlockFn = BOOL(WINAPI*)(void*);

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

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(wide.size() - 1);
  return wide;
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
  text = AnsiText(wide.data(), static_cast<int>(wide.size()));
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

// Started by this elevated process with its own token, a program would come back as
// administrator, with the command line and directory whoever ran it chose. It is started
// again only when this account ran it, and with the token this account has without
// elevation where Windows split it in two (Vista and later with UAC); where it did not
// (XP, UAC off), the account's programs ran with this very token. False when that cannot be.
bool StartAsThisAccountUnelevated(const FileHolder& holder, const char* application, std::string& commandLine,
                                  const char* directory, PROCESS_INFORMATION& started) {
  const std::string self = UserOf(GetCurrentProcessId());
  if (holder.user.empty() || self.empty() || lstrcmpiA(holder.user.c_str(), self.c_str()) != 0) return false;
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return false;
  const UniqueHandle ownHolder(own);
  TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
  DWORD size = 0;
  if (!GetTokenInformation(own, TokenElevationType, &elevation, sizeof(elevation), &size) ||
      elevation != TokenElevationTypeFull) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    return CreateProcessA(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                          &started) != FALSE;
  }
  TOKEN_LINKED_TOKEN linked{};
  if (!GetTokenInformation(own, TokenLinkedToken, &linked, sizeof(linked), &size)) return false;
  const UniqueHandle limited(linked.LinkedToken);
  const auto createWithToken =
      ExportOf<CreateProcessWithTokenFn>(GetModuleHandleA("advapi32.dll"), "CreateProcessWithTokenW");
  if (!createWithToken) return false;
  const std::wstring wideApplication = application ? Wide(application) : std::wstring();
  std::wstring wideCommand = Wide(commandLine);
  const std::wstring wideDirectory = directory ? Wide(directory) : std::wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  return createWithToken(limited.Get(), 0, application ? wideApplication.c_str() : nullptr, wideCommand.data(), 0,
                         nullptr, directory ? wideDirectory.c_str() : nullptr, &startup, &started) != FALSE;
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
  ForEachOpenFile([&](DWORD processId, const std::string& path) { findings.Held(processId, path); });
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
      // The user's own environment (profile, temporary directory), not the system account's.
      const HMODULE userenv = LoadSystemLibrary("userenv.dll");
      const auto makeEnvironment = userenv ? ExportOf<CreateEnvironmentBlockFn>(userenv, "CreateEnvironmentBlock") : nullptr;
      const auto freeEnvironment = userenv ? ExportOf<DestroyEnvironmentBlockFn>(userenv, "DestroyEnvironmentBlock") : nullptr;
      void* environment = nullptr;
      if (!makeEnvironment || !freeEnvironment || !makeEnvironment(&environment, token, FALSE)) environment = nullptr;
      done = createAsUser(token, application, commandLine.data(), nullptr, nullptr, FALSE,
                          environment ? CREATE_UNICODE_ENVIRONMENT : 0, environment, directory, &startup, &started);
      if (environment) freeEnvironment(environment);
      if (userenv) FreeLibrary(userenv);
    }
    if (wts) FreeLibrary(wts);
  } else {
    done = StartAsThisAccountUnelevated(holder, application, commandLine, directory, started);
  }
  if (!done) return false;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

}  // namespace varno::win32
