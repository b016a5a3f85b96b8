#include "platform/win32/win32_shell.h"

namespace varno::win32 {
namespace {

// IPersistFile only takes UTF-16 names; the ANSI path converts in the system code page, as
// the A functions convert theirs.
std::wstring WidePath(const std::string& path) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

}  // namespace

std::string Win32Shell::SpecialFolderPath(int csidl) {
  UniqueItemList items;
  if (FAILED(SHGetSpecialFolderLocation(owner_, csidl, items.Out()))) return {};
  char path[MAX_PATH] = {};
  if (!SHGetPathFromIDListA(items.Get(), path)) return {};
  return path;
}

LinkSave Win32Shell::SaveShellLink(const ShellLinkFields& link, const std::string& linkPath) {
  ComPointer<IShellLinkA> shellLink;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IShellLinkA,
                              shellLink.Out())) ||
      !shellLink) {
    return LinkSave::NoLinkObject;
  }
  ComPointer<IPersistFile> file;
  if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.Out())) || !file) return LinkSave::NoLinkObject;

  // SetPath reports S_FALSE for a target that does not exist yet and still stores it, so
  // none of these results says whether the shortcut will be usable; only the save counts.
  if (!link.arguments.empty()) shellLink->SetArguments(link.arguments.c_str());
  shellLink->SetPath(link.target.c_str());
  shellLink->SetWorkingDirectory(link.workingDirectory.c_str());
  return file->Save(WidePath(linkPath).c_str(), FALSE) == S_OK ? LinkSave::Saved : LinkSave::NotSaved;
}

}  // namespace varno::win32
