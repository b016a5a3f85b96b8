#include "support/memory_shell.h"

#include "support/shell_link_bytes.h"

namespace varno::fake {

std::string MemoryShell::SpecialFolderPath(int csidl) {
  auto it = folders.find(csidl);
  return it == folders.end() ? std::string() : it->second;
}

LinkSave MemoryShell::SaveShellLink(const ShellLinkFields& link, const std::string& linkPath) {
  if (refuseLinkObject) return LinkSave::NoLinkObject;
  saves.push_back({link, linkPath});
  if (failSaves) return LinkSave::NotSaved;
  // The link object makes the target a full path, as GetFullPathName would; one that has
  // its drive already is kept as given, the case of its drive letter included.
  const bool full = link.target.size() >= 3 && link.target[1] == ':' && link.target[2] == '\\';
  LinkLayout layout;
  layout.target = full ? link.target : files_.FullPath(link.target);
  layout.arguments = link.arguments;
  layout.workingDirectory = link.workingDirectory;
  // IPersistFile::Save writes the file by name and never flushes it.
  return files_.WriteInPlace(linkPath, ShellLinkBytes(layout)) ? LinkSave::Saved : LinkSave::NotSaved;
}

}  // namespace varno::fake
