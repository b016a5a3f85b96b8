// The files the processes of the machine hold open by handle, from the system's list of
// every open handle: how a file in use is traced to its holder on any Windows, XP included.
#pragma once

#include <functional>
#include <string>

#include "platform/win32/win32.h"
#include "platform/win32/win32_libraries.h"

namespace varno::win32 {

// The system's counted UTF-16 string.
struct CountedString {
  USHORT length;  // in bytes
  USHORT maximumLength;
  WCHAR* buffer;
};

// An export of ntdll, always loaded; nullptr when this Windows lacks it.
template <typename Function>
Function NtdllExport(const char* name) {
  return ExportOf<Function>(GetModuleHandleA("ntdll.dll"), name);
}

// UTF-16 text in the ANSI code page.
std::string AnsiText(const WCHAR* text, int count);

// Calls each with every file on a disk that a process other than the updater holds open,
// named from its drive letter ("C:\..."). Nothing where the system keeps its list.
void ForEachOpenFile(const std::function<void(DWORD processId, const std::string& path)>& each);

}  // namespace varno::win32
