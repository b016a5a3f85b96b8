#include "platform/message_boxes.h"

#include "base/ansi_text.h"
#include "base/texts.h"

namespace varno {

std::string ApplicationTitle(std::string_view moduleFileName) {
  const size_t slash = moduleFileName.find_last_of('\\');
  std::string_view name = slash == std::string_view::npos ? moduleFileName : moduleFileName.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  if (name.empty()) return {};
  return std::string(1, name.front()) + AnsiLowerCase(name.substr(1));
}

std::string ErrorBoxText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

void ShowPlainMessage(Dialogs& dialogs, System& system, const std::string& text) {
  dialogs.ShowBox(BoxKind::Message, ApplicationTitle(system.ModuleFileName()), text);
}

void ShowPlainMessage(Platform& platform, const std::string& text) {
  ShowPlainMessage(platform.dialogs, platform.system, text);
}

bool AskConfirmation(Platform& platform, const std::string& text) {
  return platform.dialogs.ShowBox(BoxKind::Confirmation, text::kConfirmationTitle, text);
}

bool AskWarning(Platform& platform, const std::string& text) {
  return platform.dialogs.ShowBox(BoxKind::Warning, text::kWarningTitle, text);
}

void ShowErrorBox(Platform& platform, const std::string& message) {
  platform.dialogs.ShowBox(BoxKind::Error, ApplicationTitle(platform.system.ModuleFileName()),
                           ErrorBoxText(message));
}

}  // namespace varno
