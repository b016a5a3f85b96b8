// The four message box kinds with their titles, as every part of the updater shows them.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace varno {

// The executable's file name up to its first full stop, every letter after the first in
// lower case: "C:\x\Varnolith_MAJ_Solo.exe" gives "Varnolith_maj_solo".
std::string ApplicationTitle(std::string_view moduleFileName);

// The error box adds a full stop when the code of the message's last character is greater
// than that of the full stop, so a message ending in a letter or digit gets one and one
// ending in an apostrophe, a quote, "!", ")" or "." keeps its end.
std::string ErrorBoxText(std::string_view message);

void ShowPlainMessage(Platform& platform, const std::string& text);
// The same, before the rest of the platform exists (the platform check at start).
void ShowPlainMessage(Dialogs& dialogs, System& system, const std::string& text);
bool AskConfirmation(Platform& platform, const std::string& text);
bool AskWarning(Platform& platform, const std::string& text);
void ShowErrorBox(Platform& platform, const std::string& message);

}  // namespace varno
