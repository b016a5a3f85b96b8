#include "platform/win32/win32_write_behind.h"

#include <algorithm>
#include <cstring>

namespace varno::win32 {
namespace {

// Each call into the system costs far more than copying the bytes (most of all under Wine),
// so the file is written a mebibyte at a time, whatever the caller's chunks.
constexpr size_t kBlock = 1u << 20;

// A flush starts each time this much more was written; the writing waits for one only when
// the disk lags further behind, so that the flush before the commit never holds the caller
// (and the window it keeps answering) for as long as a large file takes to reach the disk.
// Flushing every 8 MiB was measured far slower under Wine; every MiB, no faster.
constexpr uint64_t kFlushStep = 2u << 20;
constexpr uint64_t kMostUnflushed = 8u << 20;

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

DWORD WINAPI FlushFile(void* file) { return FlushFileBuffers(static_cast<HANDLE>(file)) ? TRUE : FALSE; }

}  // namespace

bool BackgroundFlush::Start(HANDLE file) {
  thread_ = UniqueHandle(CreateThread(nullptr, 0, &FlushFile, file, 0, nullptr));
  return thread_.Valid() || FlushFileBuffers(file);
}

bool BackgroundFlush::Running() const {
  return thread_.Valid() && WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT;
}

bool BackgroundFlush::Wait() {
  if (!thread_.Valid()) return true;
  DWORD flushed = FALSE;
  const bool ended =
      WaitForSingleObject(thread_.Get(), INFINITE) == WAIT_OBJECT_0 && GetExitCodeThread(thread_.Get(), &flushed);
  thread_.Close();
  return ended && flushed;
}

WriteBehind::WriteBehind(HANDLE file) : file_(file) {}

bool WriteBehind::Write(const char* data, size_t size) {
  while (size > 0 && !failed_) {
    std::unique_ptr<char[]>& block = blocks_[filling_];
    if (!block) block.reset(new char[kBlock]);
    const size_t part = std::min(size, kBlock - used_);
    std::memcpy(block.get() + used_, data, part);
    used_ += part;
    data += part;
    size -= part;
    if (used_ == kBlock) HandOver();
  }
  return !failed_;
}

bool WriteBehind::Finish() {
  // The rest is written here: the caller would only wait for the thread to do it.
  if (WaitWritten() && used_ > 0) WriteBlock(blocks_[filling_].get(), used_);
  used_ = 0;
  if (!flush_.Wait()) writeFailed_ = true;
  return WaitWritten();
}

void WriteBehind::Stop() {
  if (thread_.Valid()) {
    WaitWritten();
    InterlockedExchange(&stopping_, 1);
    SetEvent(work_.Get());
    WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Close();
  }
  if (!flush_.Wait()) writeFailed_ = true;
}

DWORD WINAPI WriteBehind::Run(void* self) {
  auto& writer = *static_cast<WriteBehind*>(self);
  for (;;) {
    SleepUntil([&] { return Load(writer.queued_) || Load(writer.stopping_); }, writer.threadSleeps_,
               writer.work_.Get());
    if (!Load(writer.queued_)) return 0;
    writer.WriteBlock(writer.pending_, writer.pendingSize_);
    InterlockedExchange(&writer.queued_, 0);
    WakeIfSleeping(writer.callerSleeps_, writer.written_.Get());
  }
}

void WriteBehind::StartThread() {
  work_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  written_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (work_.Valid() && written_.Valid()) thread_ = UniqueHandle(CreateThread(nullptr, 0, &Run, this, 0, nullptr));
}

bool WriteBehind::WaitWritten() {
  if (thread_.Valid()) SleepUntil([&] { return !Load(queued_); }, callerSleeps_, written_.Get());
  if (writeFailed_) failed_ = true;
  return !failed_;
}

void WriteBehind::HandOver() {
  // The thread starts with the first full block: a small file is written by the caller.
  if (!threadTried_) {
    threadTried_ = true;
    StartThread();
  }
  if (WaitWritten()) {
    if (thread_.Valid()) {
      pending_ = blocks_[filling_].get();
      pendingSize_ = used_;
      InterlockedExchange(&queued_, 1);
      WakeIfSleeping(threadSleeps_, work_.Get());
    } else {
      WriteBlock(blocks_[filling_].get(), used_);
    }
  }
  filling_ ^= 1;
  used_ = 0;
}

void WriteBehind::WriteBlock(const char* data, size_t size) {
  while (size > 0 && !writeFailed_) {
    DWORD written = 0;
    if (!WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) writeFailed_ = true;
    data += written;
    size -= written;
    unflushed_ += written;
  }
  if (!writeFailed_ && unflushed_ >= kFlushStep) FlushAsItGoes();
}

// Starts a flush of what was written so far, unless one still runs: what is written
// meanwhile goes with the next one.
void WriteBehind::FlushAsItGoes() {
  if (flush_.Running() && unflushed_ < kMostUnflushed) return;
  if (!flush_.Wait()) {
    writeFailed_ = true;
    return;
  }
  unflushed_ = 0;
  if (!flush_.Start(file_)) writeFailed_ = true;
}

}  // namespace varno::win32
