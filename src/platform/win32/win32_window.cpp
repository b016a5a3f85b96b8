#include "platform/win32/win32_window.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "base/texts.h"
#include "platform/win32/win32_libraries.h"

namespace varno::win32 {
namespace {

constexpr char kFormClass[] = "TForm1";
constexpr int kClientWidth = 238;
constexpr int kClientHeight = 182;
constexpr int kButton1Id = 1;
constexpr COLORREF kMaroon = RGB(128, 0, 0);
constexpr DWORD kFormStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;  // no minimise or maximise box
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME;
// Peeking into the queue is a round trip to the window server: it is done at most this
// often, which keeps the window far below the half second the shell calls hung.
constexpr DWORD kTurnIntervalMs = 25;
// Each move of the bar repaints it at once (about 4 ms under Wine, themed): it moves at most
// this often, ten times a second, which still reads as smooth.
constexpr DWORD kBarIntervalMs = 100;
// Where "Quitter" shows at the end, across the form.
constexpr int kProgressLeft = 16, kProgressTop = 150, kProgressWidth = 206, kProgressHeight = 17;

struct ControlLayout {
  Control control;
  int left, top, width, height;
  const char* designedCaption;
};

// In top-to-bottom order on screen; the labels size themselves to their text.
constexpr ControlLayout kLayout[] = {
    {Control::Label2, 16, 14, 39, 13, text::kLabel2Designed},
    {Control::Label6, 17, 33, 41, 13, text::kLabel6Designed},
    {Control::Label3, 16, 51, 51, 13, text::kLabel3Designed},
    {Control::Label4, 16, 70, 55, 13, text::kLabel4Designed},
    {Control::Label5, 16, 92, 45, 13, text::kLabel5Designed},
    {Control::Label1, 7, 121, 43, 17, text::kLabel1Designed},
    {Control::Button1, 72, 146, 75, 25, text::kButton1Caption},
};

HFONT MakeFont(int height, const char* face, BYTE charset) {
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

int ScreenDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

void RegisterFormClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kFormClass;
  RegisterClassExA(&windowClass);  // a second window in the same process finds it registered
}

}  // namespace

Win32ProgressWindow::Win32ProgressWindow() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  // The progress bar's class comes with comctl32, loaded from the system directory rather
  // than imported (see LoadSystemLibrary); it stays loaded for the life of the program.
  if (const HMODULE controls = LoadSystemLibrary("comctl32.dll")) {
    using InitCommonControlsFn = void(WINAPI*)();
    if (const auto init = ExportOf<InitCommonControlsFn>(controls, "InitCommonControls")) init();
  }
  RegisterFormClass(instance, FormProc);
  dpi_ = ScreenDpi();
  formFont_ = MakeFont(-Scale(11), "MS Sans Serif", DEFAULT_CHARSET);
  statusFont_ = MakeFont(-Scale(15), "Arial", ANSI_CHARSET);

  RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  form_ = CreateWindowExA(kFormExStyle, kFormClass, text::kFormCaption, kFormStyle, left, top, width, height,
                          nullptr, nullptr, instance, this);

  for (const ControlLayout& layout : kLayout) {
    const bool isButton = layout.control == Control::Button1;
    // Labels paint their own boxes only, so one never shows through another.
    const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (isButton ? (WS_TABSTOP | BS_PUSHBUTTON) : SS_LEFT);
    const HWND child = CreateWindowExA(
        0, isButton ? "BUTTON" : "STATIC", layout.designedCaption, style, Scale(layout.left), Scale(layout.top),
        Scale(layout.width), Scale(layout.height), form_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(isButton ? kButton1Id : 0)), instance, nullptr);
    controls_[static_cast<size_t>(layout.control)] = child;
    const HFONT font = layout.control == Control::Label1 ? statusFont_ : formFont_;
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (!isButton) FitLabelToText(layout.control);
  }
  progress_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_CLIPSIBLINGS | PBS_SMOOTH, Scale(kProgressLeft),
                              Scale(kProgressTop), Scale(kProgressWidth), Scale(kProgressHeight), form_, nullptr,
                              instance, nullptr);
  // The bar counts in its own pixels: bytes do not fit its 32-bit range, and each change of
  // position repaints it at once (themed, a costly paint under Wine), so a position that
  // would not move its fill by a pixel is never sent.
  RECT bar{};
  GetClientRect(progress_, &bar);
  progressSteps_ = std::max<int>(1, bar.right - bar.left);
  SendMessageA(progress_, PBM_SETRANGE32, 0, progressSteps_);
}

Win32ProgressWindow::~Win32ProgressWindow() {
  if (IsWindow(form_)) DestroyWindow(form_);
  DeleteObject(formFont_);
  DeleteObject(statusFont_);
}

void Win32ProgressWindow::FitLabelToText(Control control) {
  const HWND label = Child(control);
  char caption[512] = {};
  GetWindowTextA(label, caption, sizeof(caption));
  const HDC dc = GetDC(label);
  const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
  RECT extent{0, 0, 0, 0};
  DrawTextA(dc, caption, -1, &extent, DT_CALCRECT | DT_LEFT | DT_EXPANDTABS);
  RECT line{0, 0, 0, 0};
  DrawTextA(dc, "Ag", -1, &line, DT_CALCRECT | DT_LEFT | DT_SINGLELINE);
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  const size_t index = static_cast<size_t>(control);
  textHeights_[index] = extent.bottom - extent.top;
  lineHeights_[index] = std::max<int>(1, line.bottom - line.top);
  SetWindowPos(label, nullptr, 0, 0, extent.right - extent.left, textHeights_[index],
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  KeepLabelsInTheirRows();
}

// A label of several lines keeps only the whole lines that fit above the next visible label,
// so the two-line files label shows its second line only while the directories label, in
// its second line's place, is hidden.
void Win32ProgressWindow::KeepLabelsInTheirRows() {
  for (size_t i = 0; i + 1 < std::size(kLayout); ++i) {
    const Control control = kLayout[i].control;
    const size_t index = static_cast<size_t>(control);
    if (control == Control::Button1 || textHeights_[index] == 0) continue;
    int height = textHeights_[index];
    for (size_t below = i + 1; below < std::size(kLayout); ++below) {
      if (kLayout[below].control == Control::Button1 || !IsWindowVisible(Child(kLayout[below].control))) continue;
      const int room = Scale(kLayout[below].top) - Scale(kLayout[i].top);
      if (room < height) height = std::max(lineHeights_[index], room / lineHeights_[index] * lineHeights_[index]);
      break;
    }
    RECT box;
    GetWindowRect(Child(control), &box);
    if (box.bottom - box.top != height) {
      SetWindowPos(Child(control), nullptr, 0, 0, box.right - box.left, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
}

void Win32ProgressWindow::SetCaption(Control control, const std::string& caption) {
  SetWindowTextA(Child(control), caption.c_str());
  if (control != Control::Button1) FitLabelToText(control);
}

void Win32ProgressWindow::ShowControl(Control control) {
  if (control == Control::Button1) HideProgress();
  ShowWindow(Child(control), SW_SHOW);
  KeepLabelsInTheirRows();
  // No message is processed while the driver runs, so the paint happens here or never.
  RedrawWindow(form_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Win32ProgressWindow::ShowForm() {
  ShowWindow(form_, SW_SHOW);
  SetForegroundWindow(form_);
  RedrawWindow(form_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Win32ProgressWindow::RequestQuit() {
  quitRequested_ = true;
  PostQuitMessage(0);
}

void Win32ProgressWindow::ShowProgress(uint64_t total) {
  progressTotal_ = total;
  progressStep_ = -1;
  SetProgress(0);
  ShowWindow(progress_, SW_SHOW);
  UpdateWindow(progress_);
}

void Win32ProgressWindow::SetProgress(uint64_t done) {
  const uint64_t capped = std::min(done, progressTotal_);
  wantedStep_ = progressTotal_ == 0 ? progressSteps_ : static_cast<int>(capped * progressSteps_ / progressTotal_);
  // Files written in a few milliseconds each (deltas) moved the bar at every write, and its
  // paints took most of the run. It moves to its start and its end at once, otherwise at
  // most once in kBarIntervalMs; a turn or the end of the work brings it to the last position.
  if (wantedStep_ == progressStep_) return;
  if (progressStep_ < 0 || wantedStep_ == progressSteps_) {
    MoveBar();
  } else {
    CatchUpBar(kBarIntervalMs);
  }
}

void Win32ProgressWindow::CatchUpBar(DWORD afterMs) {
  if (progressStep_ >= 0 && wantedStep_ != progressStep_ && GetTickCount() - lastBarMove_ >= afterMs) MoveBar();
}

void Win32ProgressWindow::MoveBar() {
  progressStep_ = wantedStep_;
  lastBarMove_ = GetTickCount();
  SendMessageA(progress_, PBM_SETPOS, static_cast<WPARAM>(progressStep_), 0);
}

void Win32ProgressWindow::HideProgress() { ShowWindow(progress_, SW_HIDE); }

bool Win32ProgressWindow::ProcessPendingMessages() {
  const DWORD now = GetTickCount();
  if (turned_ && now - lastTurn_ < kTurnIntervalMs) return false;
  turned_ = true;
  lastTurn_ = now;
  CatchUpBar(kBarIntervalMs);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Meant for the message loop that follows: put back for it.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  const bool closeRequested = closeRequested_;
  closeRequested_ = false;
  return closeRequested;
}

void Win32ProgressWindow::RunMessageLoop(const std::function<void()>& onButton1Click) {
  onButton1Click_ = onButton1Click;
  loopRunning_ = true;
  // A close asked while the work ended (taking changes back, after the last turn) is not
  // lost: the work is over, so it closes the window now.
  if (closeRequested_) {
    closeRequested_ = false;
    PostMessageA(form_, WM_CLOSE, 0, 0);
  }
  CatchUpBar(0);  // the work is over: the bar shows where it ended
  // The quit button is the window's only control that takes the focus, as soon as it shows.
  if (IsWindowVisible(Child(Control::Button1))) SetFocus(Child(Control::Button1));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsWindow(form_) && IsDialogMessageA(form_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  onButton1Click_ = nullptr;
  loopRunning_ = false;
}

LRESULT CALLBACK Win32ProgressWindow::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Win32ProgressWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->form_ = window;
  }
  auto* self = reinterpret_cast<Win32ProgressWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  return self ? self->OnMessage(window, message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT Win32ProgressWindow::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wParam);
      const bool status = reinterpret_cast<HWND>(lParam) == Child(Control::Label1);
      SetTextColor(dc, status ? kMaroon : GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kButton1Id && HIWORD(wParam) == BN_CLICKED && onButton1Click_) onButton1Click_();
      return 0;
    case WM_CLOSE:
      // While the update works, the driver decides at its next turn.
      if (!loopRunning_) {
        closeRequested_ = true;
        return 0;
      }
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      // The close box ends the application as "Quitter" does.
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      form_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace varno::win32
