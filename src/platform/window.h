#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace varno {

// The controls of the progress window, in the names the driver uses for them.
enum class Control { Label1, Label2, Label3, Label4, Label5, Label6, Button1 };

// The one progress window. It exists hidden, with every control hidden, before the driver
// runs. The driver runs on the window's thread and lets it answer through
// ProcessPendingMessages; every change that must be seen is repainted at once all the same.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;

  /// Gives a control its caption; its visibility does not change.
  virtual void SetCaption(Control control, const std::string& caption) = 0;

  /// Makes a control visible and repaints it at once.
  virtual void ShowControl(Control control) = 0;

  /// Makes the window visible and repaints it at once.
  virtual void ShowForm() = 0;

  /// Shows the progress bar, where Button1 appears at the end, at 0 of total units. It
  /// hides again when Button1 shows or through HideProgress.
  virtual void ShowProgress(uint64_t total) = 0;

  /// Moves the progress bar to done of its total (done beyond the total counts as the total).
  virtual void SetProgress(uint64_t done) = 0;

  virtual void HideProgress() = 0;

  /// Handles the window's pending messages without waiting for any: it repaints, moves and
  /// answers the system, while clicks and keys do nothing. The close box does not close the
  /// window before the message loop runs; it is only reported. True when the close box was
  /// used since the previous call. Cheap enough to call after every block of work: the
  /// backend may look at the queue less often than it is called.
  virtual bool ProcessPendingMessages() = 0;

  /// Posts the application's quit request: the message loop ends at its first turn.
  virtual void RequestQuit() = 0;

  /// True once the quit request has been posted.
  virtual bool QuitRequested() = 0;

  /// Runs the message loop until the quit request or the window's close box. A click on
  /// Button1 calls onButton1Click.
  virtual void RunMessageLoop(const std::function<void()>& onButton1Click) = 0;
};

}  // namespace varno
