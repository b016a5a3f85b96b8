// What a journal may name. Recovery replays a journal found in the installation with the
// rights of the updater; an installation directory may be one that ordinary users can
// write, so a journal is acted on only when every record stays within what an update
// touches.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "rollback/journal.h"

namespace varno {

struct JournalScope {
  std::string installDir;                    // files and directories below it
  std::string controlPath;                   // the control's one name in the system directory
  std::vector<std::string> shortcutFolders;  // shortcuts (".lnk") below these
  // Shortcuts of any account: "<profilesDir>\<account>\<folder>\...", for each folder
  // given relative to a profile ("Desktop", "Start Menu\Programs"), so that a run killed
  // under one account is recovered under any other, the system's included.
  std::string profilesDir;
  std::vector<std::string> profileShortcutFolders;
};

// Whether the record names only what an update may change: files, directories and
// temporary files below the installation directory; the control's path, its backup and
// the system directory's temporary files; shortcuts below the shortcut folders, their
// backups and temporary files; keys and values below the product's key in
// HKEY_LOCAL_MACHINE (and the vendor's key above it, which the run may have made); the
// DisplayVersion value of the machine's uninstall entries. A rename is in scope only
// between two shortcuts of one folder, as the shortcut steps make.
bool WithinScope(const JournalRecord& record, const JournalScope& scope);

}  // namespace varno
