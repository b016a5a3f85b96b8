// The bytes of one file written on a thread of their own, so that the caller prepares the
// next block (reads it from an archive, say) while the last one goes to the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/win32/win32.h"

namespace varno::win32 {

// One flush of a file on a thread of its own, so that the writes go on while the disk
// works. On a handle opened for synchronous use Windows runs one call at a time, so there a
// write waits for the flush under way; Wine lets both run.
class BackgroundFlush {
 public:
  BackgroundFlush() = default;
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;
  ~BackgroundFlush() { Wait(); }

  // Starts flushing the file; without a thread, flushes it here. False when that failed.
  bool Start(HANDLE file);
  bool Running() const;
  // Waits for the flush started last; false when it failed.
  bool Wait();

 private:
  UniqueHandle thread_;
};

// Writes through two blocks of a mebibyte: the caller fills one while a thread of this
// object writes the other, so the memory stays bounded whatever the size of the file. The
// file is flushed as it grows, so the flush before a commit finds little left. A failure
// of any write or flush stays: Finish reports it, and the file must then never be put in
// place of another. Without a thread (CreateThread refused), every block is written by the
// caller. The handle stays the caller's; it must outlive this object.
class WriteBehind {
 public:
  explicit WriteBehind(HANDLE file);
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;
  ~WriteBehind() { Stop(); }

  // Takes a copy of the bytes. False once a write failed (possibly one of earlier bytes).
  bool Write(const char* data, size_t size);

  // Writes what is left and waits until every write and flush started has ended. False
  // when any failed. The file's last flush is the caller's.
  bool Finish();

  // Waits for the block being written and ends the thread, without writing what is left.
  void Stop();

 private:
  static DWORD WINAPI Run(void* self);
  void StartThread();
  // Waits until the thread has written the block it was given; false once a write failed.
  bool WaitWritten();
  // Gives the filled block to the thread (or writes it here) and turns to the other.
  void HandOver();
  // What the thread does with each block: write it, and flush as the file grows.
  void WriteBlock(const char* data, size_t size);
  void FlushAsItGoes();

  HANDLE file_;
  std::unique_ptr<char[]> blocks_[2];  // each made when first needed, and not cleared
  int filling_ = 0;                    // the block the caller fills
  size_t used_ = 0;                    // how much of it is filled
  bool failed_ = false;                // the caller's view: a failure was seen

  // The thread touches the block and the fields below only while queued_ is set, the
  // caller only while it is clear; the interlocked changes of queued_ order the rest.
  volatile LONG queued_ = 0;
  volatile LONG stopping_ = 0;
  volatile LONG callerSleeps_ = 0;
  volatile LONG threadSleeps_ = 0;
  UniqueHandle work_;     // auto-reset: wakes the thread
  UniqueHandle written_;  // auto-reset: wakes the caller
  UniqueHandle thread_;
  bool threadTried_ = false;
  const char* pending_ = nullptr;
  size_t pendingSize_ = 0;
  bool writeFailed_ = false;
  uint64_t unflushed_ = 0;  // written since the last flush started
  BackgroundFlush flush_;
};

}  // namespace varno::win32
