// An error box shown once the run asked to end waits for its answer: run on a display, a
// helper thread finds the box, checks it is still open a moment later and answers it.
// Exit code 0 when the box waited and the quit request survived it.
#include <cstdio>

#include "platform/win32/win32.h"
#include "platform/win32/win32_dialogs.h"

namespace {

constexpr char kTitle[] = "Varnolith_maj_solo";
bool boxWaited = false;

DWORD WINAPI AnswerTheBox(void*) {
  for (int i = 0; i < 200; ++i) {
    const HWND box = FindWindowA("#32770", kTitle);
    if (box) {
      Sleep(500);
      boxWaited = IsWindow(box) && IsWindowVisible(box);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return 0;
    }
    Sleep(50);
  }
  return 0;
}

}  // namespace

int main() {
  PostQuitMessage(3);  // what the window does when a gate ends the run
  const HANDLE helper = CreateThread(nullptr, 0, AnswerTheBox, nullptr, 0, nullptr);
  varno::win32::Win32Dialogs dialogs;
  dialogs.ShowBox(varno::BoxKind::Error, kTitle, "Impossible de créer le fichier C:\\x.");
  WaitForSingleObject(helper, 15000);
  MSG message;
  const bool quitKept = PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && message.wParam == 3;
  std::printf("box waited for its answer: %s; quit request kept: %s\n", boxWaited ? "yes" : "no",
              quitKept ? "yes" : "no");
  return boxWaited && quitKept ? 0 : 1;
}
