// Opens the progress window as a complete run leaves it: every label with its run caption,
// the status line and the quit button. "Quitter" ends the program. The end-to-end tests
// take its screenshot.
#include "app/form1.h"
#include "base/texts.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  varno::win32::Win32ProgressWindow window;
  varno::GiveLabelsTheirRunCaptions(window);
  window.SetCaption(varno::Control::Label1, varno::text::kStatusFinished);
  window.ShowForm();
  for (varno::Control control : {varno::Control::Label1, varno::Control::Label2, varno::Control::Label3,
                                 varno::Control::Label4, varno::Control::Label5, varno::Control::Label6,
                                 varno::Control::Button1}) {
    window.ShowControl(control);
  }
  window.RunMessageLoop([&window] { window.RequestQuit(); });
  return 0;
}
