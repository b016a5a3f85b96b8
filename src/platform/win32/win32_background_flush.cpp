#include "platform/win32/win32_background_flush.h"

namespace varno::win32 {
namespace {

LONG Load(volatile LONG& value) { return InterlockedCompareExchange(&value, 0, 0); }

// Under Wine every wait on an event and every SetEvent is a round trip to the server, which
// a loaded machine makes slow: each side tells the other when it sleeps, and is woken only
// then. The event may be left set by a wake that came late; the condition is checked again.
template <typename Condition>
void SleepUntil(Condition holds, volatile LONG& sleeping, HANDLE wake) {
  while (!holds()) {
    InterlockedExchange(&sleeping, 1);
    if (holds()) break;
    WaitForSingleObject(wake, INFINITE);
  }
  InterlockedExchange(&sleeping, 0);
}

void WakeIfSleeping(volatile LONG& sleeping, HANDLE wake) {
  if (InterlockedExchange(&sleeping, 0)) SetEvent(wake);
}

}  // namespace

// Lives as long as the process: it sleeps while no file asks, and every file waits for its
// own flush before its handle closes, so nothing is left to it when the process ends.
class FlushThread {
 public:
  // Null when the thread or its event cannot be made: files then flush on their own thread.
  static FlushThread* Get() {
    static FlushThread* const thread = Make();
    return thread;
  }

  void Queue(BackgroundFlush& flush) {
    EnterCriticalSection(&lock_);
    flush.next_ = nullptr;
    (last_ ? last_->next_ : first_) = &flush;
    last_ = &flush;
    LeaveCriticalSection(&lock_);
    WakeIfSleeping(sleeps_, work_.Get());
  }

 private:
  FlushThread() { InitializeCriticalSection(&lock_); }

  static FlushThread* Make() {
    auto* made = new FlushThread;
    made->work_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (made->work_.Valid()) made->thread_ = UniqueHandle(CreateThread(nullptr, 0, &Run, made, 0, nullptr));
    if (made->thread_.Valid()) return made;
    DeleteCriticalSection(&made->lock_);
    delete made;
    return nullptr;
  }

  BackgroundFlush* Next() {
    EnterCriticalSection(&lock_);
    BackgroundFlush* next = first_;
    if (next && !(first_ = next->next_)) last_ = nullptr;
    LeaveCriticalSection(&lock_);
    return next;
  }

  static DWORD WINAPI Run(void* self) {
    auto& thread = *static_cast<FlushThread*>(self);
    for (;;) {
      BackgroundFlush* flush = nullptr;
      SleepUntil([&] { return (flush = thread.Next()) != nullptr; }, thread.sleeps_, thread.work_.Get());
      if (!FlushFileBuffers(flush->file_)) flush->failed_ = true;
      // Read first: once idle, the flush may be gone at any moment.
      const HANDLE done = flush->done_.Get();
      if (InterlockedExchange(&flush->state_, BackgroundFlush::kIdle) == BackgroundFlush::kAwaited) SetEvent(done);
    }
  }

  CRITICAL_SECTION lock_;
  BackgroundFlush* first_ = nullptr;
  BackgroundFlush* last_ = nullptr;
  volatile LONG sleeps_ = 0;
  UniqueHandle work_;  // auto-reset: wakes the thread
  UniqueHandle thread_;
};

bool BackgroundFlush::Start(HANDLE file) {
  if (!Wait()) return false;
  FlushThread* const thread = FlushThread::Get();
  if (!done_.Valid()) done_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!thread || !done_.Valid()) return FlushFileBuffers(file) != FALSE;
  file_ = file;
  InterlockedExchange(&state_, kQueued);
  thread->Queue(*this);
  return true;
}

bool BackgroundFlush::Running() { return Load(state_) != kIdle; }

bool BackgroundFlush::Wait() {
  for (LONG state; (state = Load(state_)) != kIdle;) {
    if (state == kQueued && InterlockedCompareExchange(&state_, kAwaited, kQueued) != kQueued) continue;
    WaitForSingleObject(done_.Get(), INFINITE);
  }
  return !failed_;
}

}  // namespace varno::win32
