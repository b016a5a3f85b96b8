#pragma once

#include <functional>
#include <memory>

#include "platform/system.h"
#include "platform/win32/win32.h"

namespace varno::win32 {

class JobThread;

// A piece of work a JobThread runs, and its caller's wait for it. One run at a time: the
// caller waits for the last before it queues the job again.
class Job {
 public:
  Job() = default;
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;
  virtual ~Job() { Wait(); }

  // Queues the job on the thread once the run started last has ended; false when it cannot
  // be (no thread, no event to wake the caller): the caller then does the work itself.
  bool QueueOn(JobThread* thread);
  bool Running();
  void Wait();

 protected:
  // On the thread.
  virtual void Run() = 0;

 private:
  friend class JobThread;
  enum : LONG { kIdle, kQueued, kAwaited };

  // kAwaited: the caller sleeps on done_ and the thread sets it once, as it goes idle; a
  // wake is never left over, so the caller may drop the job as soon as it wakes.
  volatile LONG state_ = kIdle;
  UniqueHandle done_;  // auto-reset: wakes the caller
  Job* next_ = nullptr;  // in the thread's queue
};

// A thread that runs the jobs queued on it in their order, and sleeps while there is none.
// Under Wine making and ending a thread costs close to a millisecond, as much as writing a
// small file, so work goes to a thread made once rather than to a thread of its own.
class JobThread {
 public:
  // Null when the thread or its event cannot be made.
  static std::unique_ptr<JobThread> Make();
  // The process's flush thread, made with the first flush: it sleeps while no file asks,
  // and every file waits for its flush before its handle closes, so it is never stopped.
  static JobThread* Flushes();
  // Every job queued on it must have been waited for.
  ~JobThread();

  void Queue(Job& job);

 private:
  JobThread();
  Job* Next();
  // Windows starts a thread on a stack aligned to 4 bytes, where the compiler's SSE code
  // (the SHA instructions of a digest taken on a worker) wants 16: the entry realigns it.
  __attribute__((force_align_arg_pointer)) static DWORD WINAPI Run(void* self);

  CRITICAL_SECTION lock_;
  Job* first_ = nullptr;
  Job* last_ = nullptr;
  volatile LONG sleeps_ = 0;
  volatile LONG stopping_ = 0;
  UniqueHandle work_;  // auto-reset: wakes the thread
  UniqueHandle thread_;
};

// The flushes of one open file, on the process's flush thread, so that the caller goes on
// while the disk works. On a handle opened for synchronous use Windows runs one call at a
// time, so there a write waits for the flush under way; Wine lets both run.
class BackgroundFlush : public Job {
 public:
  ~BackgroundFlush() override { Wait(); }
  // Starts flushing the file once the flush started last ended; when no thread can be had,
  // flushes it here. False when that failed.
  bool Start(HANDLE file);
  // Waits for the flush started last; false when it or an earlier one failed.
  bool WaitFlushed();

 protected:
  void Run() override;

 private:
  HANDLE file_ = nullptr;
  // The thread sets failed_ only while a flush is under way; the caller reads it once idle.
  bool failed_ = false;
};

// The system's worker: a thread of its own for the tasks of one step.
class ThreadWorker : public Worker {
 public:
  ThreadWorker() : thread_(JobThread::Make()) {}
  ~ThreadWorker() override { task_.Wait(); }
  void Start(std::function<void()> task) override;
  void Wait() override { task_.Wait(); }

 private:
  struct Task : Job {
    ~Task() override { Wait(); }
    void Run() override { work(); }
    std::function<void()> work;
  };
  std::unique_ptr<JobThread> thread_;
  Task task_;  // after the thread: it is waited for before the thread stops
};

}  // namespace varno::win32
