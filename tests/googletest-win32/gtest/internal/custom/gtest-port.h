// GoogleTest's hook for platform adjustments, for the Windows build. Its toolchain uses the
// win32 thread model (cmake/mingw-i686.cmake), whose standard library has no std::mutex or
// std::condition_variable, the only things GoogleTest takes from it: Notification, a gate
// between threads that only GoogleTest's own tests open. Its locks are Win32 ones already.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

// The same gate over an atomic flag. The waiting thread spins; nothing here waits on it.
class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
