#include "platform/win32/win32_processes.h"

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

}  // namespace varno::win32
