#include "platform/win32/win32_processes.h"

#include "platform/win32/win32_libraries.h"

#include <algorithm>

namespace varno::win32 {

static_assert(sizeof(STARTUPINFOA) == 68, "the startup record of a 32-bit program is 68 bytes");

bool Win32Processes::StartProgram(const std::string& applicationName) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(applicationName.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  lastProcess_ = UniqueHandle(process.hProcess);
  return true;
}

bool Win32Processes::ClaimSoleUpdater() {
  // A named mutex in the global namespace, so that updaters started in other sessions see
  // it too; its handle is never closed, so the claim lasts until the process ends.
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\Tolmerik.Varnolith.MiseAJour");
  return mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
}

namespace {

// The Restart Manager (Vista and later), declared here as the program is built for XP and
// reaches it only through GetProcAddress.
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
using RmEndSessionFn = DWORD(WINAPI*)(DWORD);

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(wide.size() - 1);
  return wide;
}

std::string Ansi(const WCHAR* text) {
  const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(length > 0 ? length : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), length, nullptr, nullptr);
  ansi.resize(ansi.size() - 1);
  return ansi;
}

}  // namespace

std::vector<std::string> Win32Processes::ProgramsUsing(const std::vector<std::string>& paths) {
  std::vector<std::string> programs;
  const HMODULE loaded = LoadSystemLibrary("rstrtmgr.dll");
  if (!loaded) return programs;  // before Vista
  const auto start = ExportOf<RmStartSessionFn>(loaded, "RmStartSession");
  const auto add = ExportOf<RmRegisterResourcesFn>(loaded, "RmRegisterResources");
  const auto list = ExportOf<RmGetListFn>(loaded, "RmGetList");
  const auto end = ExportOf<RmEndSessionFn>(loaded, "RmEndSession");
  DWORD session = 0;
  WCHAR key[33] = {};
  if (start && add && list && end && start(&session, 0, key) == ERROR_SUCCESS) {
    std::vector<std::wstring> wide;
    for (const std::string& path : paths) wide.push_back(Wide(path));
    std::vector<const WCHAR*> names;
    for (const std::wstring& name : wide) names.push_back(name.c_str());
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;
    if (add(session, static_cast<UINT>(names.size()), names.data(), 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
        list(session, &needed, &count, nullptr, &reasons) == ERROR_MORE_DATA && needed > 0) {
      std::vector<RmProcessInfo> found(needed);
      count = needed;
      if (list(session, &needed, &count, found.data(), &reasons) == ERROR_SUCCESS) {
        for (UINT i = 0; i < count; ++i) {
          const std::string name = Ansi(found[i].appName);
          if (std::find(programs.begin(), programs.end(), name) == programs.end()) programs.push_back(name);
        }
      }
    }
    end(session);
  }
  FreeLibrary(loaded);
  return programs;
}

}  // namespace varno::win32
