#pragma once

#include <functional>
#include <string>

namespace varno {

// The controls of the progress window, in the names the driver uses for them.
enum class Control { Label1, Label2, Label3, Label4, Label5, Label6, Button1 };

// The one progress window. It exists hidden, with every control hidden, before the driver
// runs. While the driver runs no window messages are processed, so every change that must
// be seen is repainted at once.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;

  /// Gives a control its caption; its visibility does not change.
  virtual void SetCaption(Control control, const std::string& caption) = 0;

  /// Makes a control visible and repaints it at once.
  virtual void ShowControl(Control control) = 0;

  /// Makes the window visible and repaints it at once.
  virtual void ShowForm() = 0;

  /// Posts the application's quit request: the message loop ends at its first turn.
  virtual void RequestQuit() = 0;

  /// True once the quit request has been posted.
  virtual bool QuitRequested() = 0;

  /// Runs the message loop until the quit request or the window's close box. A click on
  /// Button1 calls onButton1Click.
  virtual void RunMessageLoop(const std::function<void()>& onButton1Click) = 0;
};

}  // namespace varno
