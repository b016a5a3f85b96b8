// Starts a program with the rest of this program's command line, exactly as written, waits
// for it and prints its whole exit code. Wine hands a Unix shell only the low 8 bits of a
// Windows exit code (1603 arrives as 67), so the end-to-end tests read codes through this.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The command line after this program's own name (quoted or not) and the blanks after it.
std::string RestOfCommandLine() {
  const char* line = GetCommandLineA();
  if (*line == '"') {
    ++line;
    while (*line && *line != '"') ++line;
    if (*line) ++line;
  }
  while (*line && *line != ' ' && *line != '\t') ++line;
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

}  // namespace

int main() {
  std::string command = RestOfCommandLine();
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::printf("cannot start: error %lu\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("%lu\n", code);
  return 0;
}
