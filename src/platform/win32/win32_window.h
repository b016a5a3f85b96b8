#pragma once

#include <array>
#include <functional>

#include "platform/win32/win32.h"
#include "platform/window.h"

namespace varno::win32 {

// Form1, the progress window: a fixed dialog designed at 96 dpi (client 238 x 182),
// centred on the screen, with five step labels, the status line and the quit button, all
// hidden at start. It is created hidden.
class Win32ProgressWindow : public ProgressWindow {
 public:
  Win32ProgressWindow();
  ~Win32ProgressWindow() override;
  Win32ProgressWindow(const Win32ProgressWindow&) = delete;
  Win32ProgressWindow& operator=(const Win32ProgressWindow&) = delete;

  void SetCaption(Control control, const std::string& caption) override;
  void ShowControl(Control control) override;
  void ShowForm() override;
  void RequestQuit() override;
  bool QuitRequested() override { return quitRequested_; }
  void RunMessageLoop(const std::function<void()>& onButton1Click) override;
  void ShowProgress(uint64_t total) override;
  void SetProgress(uint64_t done) override;
  void HideProgress() override;
  bool ProcessPendingMessages() override;

  HWND Handle() const { return form_; }
  HWND ProgressBar() const { return progress_; }

 private:
  static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND Child(Control control) const { return controls_[static_cast<size_t>(control)]; }
  int Scale(int designed) const { return MulDiv(designed, dpi_, 96); }
  void FitLabelToText(Control control);
  void KeepLabelsInTheirRows();
  void MoveBar();
  void CatchUpBar(DWORD afterMs);

  HWND form_ = nullptr;
  std::array<HWND, 7> controls_{};
  // Each label's text height, and the height of one of its lines.
  std::array<int, 7> textHeights_{};
  std::array<int, 7> lineHeights_{};
  HWND progress_ = nullptr;
  uint64_t progressTotal_ = 0;
  int progressSteps_ = 1;  // the bar's range: its width in pixels
  int progressStep_ = -1;  // where the bar stands (-1: not yet placed since shown)
  int wantedStep_ = 0;     // where the work done would put it
  DWORD lastBarMove_ = 0;
  // Before the message loop runs, the close box is only reported.
  bool loopRunning_ = false;
  bool closeRequested_ = false;
  DWORD lastTurn_ = 0;
  bool turned_ = false;
  HFONT formFont_ = nullptr;
  HFONT statusFont_ = nullptr;
  int dpi_ = 96;
  bool quitRequested_ = false;
  std::function<void()> onButton1Click_;
};

}  // namespace varno::win32
