#pragma once

#include "platform/dialogs.h"
#include "platform/win32/win32.h"

namespace varno::win32 {

class Win32Dialogs : public Dialogs {
 public:
  bool ShowBox(BoxKind kind, const std::string& title, const std::string& text) override;
  std::string SelectDirectory() override;
  FilesInUseChoice AskAboutFilesInUse(const std::string& title, const std::string& text) override;
};

}  // namespace varno::win32
