#include "platform/win32/win32_processes.h"

#include "platform/win32/win32_libraries.h"

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

}  // namespace varno::win32
