#pragma once

#include <map>

#include "platform/file_holders.h"
#include "platform/win32/win32.h"

namespace varno::win32 {

// Holders found three ways, as each sees what the others miss: the modules each process has
// loaded (any Windows), the files each has open by handle (any Windows), and the Restart
// Manager where it answers (Vista and later; a stub that names nobody under Wine).
class Win32FileHolders : public FileHolders {
 public:
  std::vector<FileHolder> Find(const std::vector<std::string>& paths) override;
  EndRequest AskToEnd(const FileHolder& holder) override;
  bool ForceEnd(const FileHolder& holder) override;
  bool Restart(const FileHolder& holder) override;

 private:
  // The session of each process found, read while it runs: a program is started again in
  // the session it ran in.
  std::map<uint32_t, DWORD> sessions_;
};

}  // namespace varno::win32
