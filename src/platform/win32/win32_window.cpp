#include "platform/win32/win32_window.h"

#include <string>

#include "base/texts.h"

namespace varno::win32 {
namespace {

constexpr char kFormClass[] = "TForm1";
constexpr int kClientWidth = 238;
constexpr int kClientHeight = 182;
constexpr int kButton1Id = 1;
constexpr COLORREF kMaroon = RGB(128, 0, 0);
constexpr DWORD kFormStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;  // no minimise or maximise box
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME;

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
    const DWORD style = WS_CHILD | (isButton ? (WS_TABSTOP | BS_PUSHBUTTON) : SS_LEFT);
    const HWND child = CreateWindowExA(
        0, isButton ? "BUTTON" : "STATIC", layout.designedCaption, style, Scale(layout.left), Scale(layout.top),
        Scale(layout.width), Scale(layout.height), form_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(isButton ? kButton1Id : 0)), instance, nullptr);
    controls_[static_cast<size_t>(layout.control)] = child;
    const HFONT font = layout.control == Control::Label1 ? statusFont_ : formFont_;
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (!isButton) FitLabelToText(layout.control);
  }
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
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  SetWindowPos(label, nullptr, 0, 0, extent.right - extent.left, extent.bottom - extent.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32ProgressWindow::SetCaption(Control control, const std::string& caption) {
  SetWindowTextA(Child(control), caption.c_str());
  if (control != Control::Button1) FitLabelToText(control);
}

void Win32ProgressWindow::ShowControl(Control control) {
  ShowWindow(Child(control), SW_SHOW);
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

void Win32ProgressWindow::RunMessageLoop(const std::function<void()>& onButton1Click) {
  onButton1Click_ = onButton1Click;
  // The quit button is the window's only control that takes the focus, as soon as it shows.
  if (IsWindowVisible(Child(Control::Button1))) SetFocus(Child(Control::Button1));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsWindow(form_) && IsDialogMessageA(form_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  onButton1Click_ = nullptr;
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
