// A progress window that is never drawn and never receives input: for runs that nobody
// watches (the unattended mode, the package authors' tool).
#pragma once

#include "platform/window.h"

namespace varno {

class InertWindow final : public ProgressWindow {
 public:
  void SetCaption(Control, const std::string&) override {}
  void ShowControl(Control) override {}
  void ShowForm() override {}
  void ShowProgress(uint64_t) override {}
  void SetProgress(uint64_t) override {}
  void HideProgress() override {}
  bool ProcessPendingMessages() override { return false; }
  void RequestQuit() override { quit_ = true; }
  bool QuitRequested() override { return quit_; }
  void RunMessageLoop(const std::function<void()>&) override {}

 private:
  bool quit_ = false;
};

}  // namespace varno
