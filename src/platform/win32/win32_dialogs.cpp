#include "platform/win32/win32_dialogs.h"

#include "base/texts.h"
#include "platform/win32/win32_directory_dialog.h"

#include <algorithm>
#include <cstring>

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

// The files-in-use box is a Oui/Non/Annuler box whose first two buttons become "Fermer les
// programmes" and "Réessayer"; the first is widened, and the box with it, to hold its text.
LRESULT CALLBACK RenameFilesInUseButtons(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    const HWND close = GetDlgItem(box, IDYES);
    SetWindowTextA(close, text::kClosePrograms);
    SetDlgItemTextA(box, IDNO, text::kRetryButton);
    SetDlgItemTextA(box, IDCANCEL, text::kCancelButton);
    RECT button;
    GetWindowRect(close, &button);
    MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&button), 2);
    const HDC dc = GetDC(close);
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(close, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32A(dc, text::kClosePrograms, static_cast<int>(std::strlen(text::kClosePrograms)), &extent);
    SelectObject(dc, previous);
    ReleaseDC(close, dc);
    const int grow = extent.cx + 16 - (button.right - button.left);
    if (grow > 0) {
      // Widened to the right, and moved left only as far as the screen requires.
      RECT frame;
      GetWindowRect(box, &frame);
      const int overflow = frame.right + grow - GetSystemMetrics(SM_CXSCREEN);
      const int left = overflow > 0 ? std::max(0, static_cast<int>(frame.left) - overflow) : static_cast<int>(frame.left);
      SetWindowPos(box, nullptr, left, frame.top, frame.right - frame.left + grow, frame.bottom - frame.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      SetWindowPos(close, nullptr, button.left, button.top, button.right - button.left + grow,
                   button.bottom - button.top, SWP_NOZORDER | SWP_NOACTIVATE);
      for (const int id : {IDNO, IDCANCEL}) {
        const HWND other = GetDlgItem(box, id);
        RECT place;
        GetWindowRect(other, &place);
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(other, nullptr, place.left + grow, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A box's own message loop ends as soon as it meets a quit message, so a box shown after
// the run asked to end (an error while shutting down) would close before anyone read it.
// The pending quit is held back while the box waits and posted again afterwards.
int ShowRenamedBox(HOOKPROC rename, const std::string& title, const std::string& text, UINT style) {
  MSG quit;
  const bool quitPending = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  const HHOOK hook = SetWindowsHookExA(WH_CBT, rename, nullptr, GetCurrentThreadId());
  // Task-modal: the progress window, when it is on screen, takes no input until the box is
  // closed; the box comes to the foreground because nothing else tells the user it waits.
  const int answer = MessageBoxA(nullptr, text.c_str(), title.c_str(), style | MB_TASKMODAL | MB_SETFOREGROUND);
  if (hook) UnhookWindowsHookEx(hook);
  if (quitPending) PostQuitMessage(static_cast<int>(quit.wParam));
  return answer;
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
  const int answer = ShowRenamedBox(RenameButtons, title, text, StyleOf(kind));
  return answer == IDYES || answer == IDOK || answer == IDRETRY;
}

FilesInUseChoice Win32Dialogs::AskAboutFilesInUse(const std::string& title, const std::string& text) {
  switch (ShowRenamedBox(RenameFilesInUseButtons, title, text, MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
    case IDYES: return FilesInUseChoice::ClosePrograms;
    case IDNO: return FilesInUseChoice::Retry;
    default: return FilesInUseChoice::Cancel;
  }
}

std::string Win32Dialogs::SelectDirectory() { return RunDirectoryDialog(); }

}  // namespace varno::win32
