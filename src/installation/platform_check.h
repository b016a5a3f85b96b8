// Which Windows the updater accepts to run on, decided once at start.
#pragma once

#include <optional>
#include <string>

#include "platform/dialogs.h"
#include "platform/system.h"

namespace varno {

// The code of a platform id and version: 30-32 for Windows 95/98/Me, 34-36 for NT 4, 2000
// and XP, 40-43 and 44-47 for NT 6.0-6.3 and 10.0-10.3; 0 when not recognised.
unsigned ClassifyOsVersion(uint32_t platformId, uint32_t major, uint32_t minor);

// The code of the running Windows (0 when the version query fails).
unsigned ProbeOsVersion(System& system);

// "WINDOWS" or "WINDOWS NT" for an accepted code, nothing for a refused one.
std::optional<std::string> OsFamilyNameOf(unsigned osVersionCode);

// The family name of the running Windows; for a refused one, the refusal message is shown
// (one OK button) and nothing is given: the caller ends the process.
std::optional<std::string> CheckPlatform(Dialogs& dialogs, System& system);

}  // namespace varno
