#pragma once

#include "platform/win32/win32.h"

namespace varno::win32 {

// The flushes of one open file, made on the process's one flush thread so that the caller
// goes on while the disk works. Under Wine a thread costs close to a millisecond to make and
// end, as much as writing a small file, so the thread is made once, with the first flush of
// the run, and serves every file in the order they ask. One flush of a file at a time: a
// new one waits for the last. On a handle opened for synchronous use Windows runs one call
// at a time, so there a write waits for the flush under way; Wine lets both run.
class BackgroundFlush {
 public:
  BackgroundFlush() = default;
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;
  ~BackgroundFlush() { Wait(); }

  // Starts flushing the file once the flush started last was waited for; when no thread
  // can be had, flushes it here. False when that failed.
  bool Start(HANDLE file);
  bool Running();
  // Waits for the flush started last; false when it or an earlier one failed.
  bool Wait();

 private:
  friend class FlushThread;

  enum : LONG { kIdle, kQueued, kAwaited };

  HANDLE file_ = nullptr;
  // The thread sets failed_ only while a flush is under way; the caller reads it once idle.
  bool failed_ = false;
  // kAwaited: the caller sleeps on done_ and the thread sets it once, as it goes idle; a
  // wake is never left over, so the caller may drop this object as soon as it wakes.
  volatile LONG state_ = kIdle;
  UniqueHandle done_;  // auto-reset: wakes the caller
  BackgroundFlush* next_ = nullptr;  // in the thread's queue
};

}  // namespace varno::win32
