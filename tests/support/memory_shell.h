// The shell of the in-memory machine: special folders from a table, and shortcuts saved as
// the bytes the shell's link object writes, into the in-memory disk.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/shell.h"
#include "support/memory_files.h"

namespace varno::fake {

class MemoryShell : public Shell {
 public:
  explicit MemoryShell(MemoryFileSystem& files) : files_(files) {}

  std::string SpecialFolderPath(int csidl) override;
  LinkSave SaveShellLink(const ShellLinkFields& link, const std::string& linkPath) override;

  std::map<int, std::string> folders;

  // Every save asked for, saved or not, in order.
  struct SaveRequest {
    ShellLinkFields link;
    std::string path;
  };
  std::vector<SaveRequest> saves;

  // Faults: the link object cannot be created (as when the shell is broken), or its saves
  // fail whatever the folder.
  bool refuseLinkObject = false;
  bool failSaves = false;

 private:
  MemoryFileSystem& files_;
};

}  // namespace varno::fake
