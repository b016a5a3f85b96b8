#include "platform/win32/win32_libraries.h"

#include <string>

#include "platform/win32/win32.h"

namespace varno::win32 {

HMODULE LoadSystemLibrary(const char* name) {
  char system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return LoadLibraryA((std::string(system) + "\\" + name).c_str());
}

LibraryHandle Win32Libraries::Load(const std::string& path) {
  // A full path: the library's own dependencies still come from the system directory only.
  return reinterpret_cast<LibraryHandle>(LoadLibraryA(path.c_str()));
}

std::optional<uint32_t> Win32Libraries::CallExport(LibraryHandle library, const std::string& name) {
  const FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(library), name.c_str());
  if (!address) return std::nullopt;
  // Both exports take no arguments, so the standard and the C calling conventions agree.
  using Export = DWORD(WINAPI*)();
  return static_cast<uint32_t>(reinterpret_cast<Export>(reinterpret_cast<void*>(address))());
}

void Win32Libraries::Free(LibraryHandle library) { FreeLibrary(reinterpret_cast<HMODULE>(library)); }

}  // namespace varno::win32
