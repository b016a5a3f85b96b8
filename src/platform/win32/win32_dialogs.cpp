#include "platform/win32/win32_dialogs.h"

#include "base/texts.h"
#include "platform/win32/win32_directory_dialog.h"

namespace varno::win32 {
namespace {

// MessageBoxA labels its buttons in the language of the system; the updater's questions
// are French everywhere, so the buttons are renamed as the box is activated.
LRESULT CALLBACK RenameButtons(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    SetDlgItemTextA(box, IDYES, text::kYesButton);
    SetDlgItemTextA(box, IDNO, text::kNoButton);
    SetDlgItemTextA(box, IDOK, "OK");
    SetDlgItemTextA(box, IDRETRY, text::kRetryButton);
    SetDlgItemTextA(box, IDCANCEL, text::kCancelButton);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

UINT StyleOf(BoxKind kind) {
  switch (kind) {
    case BoxKind::Confirmation: return MB_YESNO | MB_ICONQUESTION;
    case BoxKind::Warning: return MB_YESNO | MB_ICONEXCLAMATION;
    case BoxKind::Error: return MB_OK | MB_ICONERROR;
    case BoxKind::RetryCancel: return MB_RETRYCANCEL | MB_ICONEXCLAMATION;
    case BoxKind::Message: break;
  }
  return MB_OK;
}

}  // namespace

bool Win32Dialogs::ShowBox(BoxKind kind, const std::string& title, const std::string& text) {
  // A box's own message loop ends as soon as it meets a quit message, so a box shown after
  // the run asked to end (an error while shutting down) would close before anyone read it.
  // The pending quit is held back while the box waits and posted again afterwards.
  MSG quit;
  const bool quitPending = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  const HHOOK hook = SetWindowsHookExA(WH_CBT, RenameButtons, nullptr, GetCurrentThreadId());
  // Task-modal: the progress window, when it is on screen, takes no input until the box is
  // closed; the box comes to the foreground because nothing else tells the user it waits.
  const int answer =
      MessageBoxA(nullptr, text.c_str(), title.c_str(), StyleOf(kind) | MB_TASKMODAL | MB_SETFOREGROUND);
  if (hook) UnhookWindowsHookEx(hook);
  if (quitPending) PostQuitMessage(static_cast<int>(quit.wParam));
  return answer == IDYES || answer == IDOK || answer == IDRETRY;
}

std::string Win32Dialogs::SelectDirectory() { return RunDirectoryDialog(); }

}  // namespace varno::win32
