#include "platform/win32/win32_shell.h"

namespace varno::win32 {

std::string Win32Shell::SpecialFolderPath(int csidl) {
  UniqueItemList items;
  if (FAILED(SHGetSpecialFolderLocation(owner_, csidl, items.Out()))) return {};
  char path[MAX_PATH] = {};
  if (!SHGetPathFromIDListA(items.Get(), path)) return {};
  return path;
}

}  // namespace varno::win32
