// What an update of this machine may have changed, for the recovery to check a journal
// against, whichever account recovers it.
#pragma once

#include <string>

#include "platform/platform.h"
#include "rollback/journal_scope.h"

namespace varno {

// The installation, the control's name in the system directory, the shortcut folders of the
// account that runs now and of all users, and the same folders in every account's profile.
JournalScope ScopeOfAnUpdate(Platform& platform, const std::string& installDir);

}  // namespace varno
