#include "platform/win32/win32_background_work.h"

namespace varno::win32 {
namespace {

LONG Load(volatile LONG& value) { return InterlockedCompareExchange(&value, 0, 0); }

// Waits for the event while answering what other threads and programs send to this
// thread's windows: on the window's thread a wait for the disk (a large file's flush on a
// busy disk can take a second) must not leave a program that asks, or the shell deciding
// whether the window hangs, without an answer. A look at the queue that removes nothing
// answers them; posted messages, input among them, wait for the window's own turn, so
// nothing the user does runs in the middle of a file's write. (Waiting on the queue itself,
// for sent messages only, made Wine lose the keys pressed meanwhile.)
void WaitAnsweringSentMessages(HANDLE event) {
  constexpr DWORD kAnswerEveryMs = 20;
  MSG message;
  while (WaitForSingleObject(event, kAnswerEveryMs) == WAIT_TIMEOUT) PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

}  // namespace

bool Job::QueueOn(JobThread* thread) {
  Wait();
  if (!done_.Valid()) done_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!thread || !done_.Valid()) return false;
  InterlockedExchange(&state_, kQueued);
  thread->Queue(*this);
  return true;
}

bool Job::Running() { return Load(state_) != kIdle; }

void Job::Wait() {
  for (LONG state; (state = Load(state_)) != kIdle;) {
    if (state == kQueued && InterlockedCompareExchange(&state_, kAwaited, kQueued) != kQueued) continue;
    WaitAnsweringSentMessages(done_.Get());
  }
}

JobThread::JobThread() { InitializeCriticalSection(&lock_); }

JobThread::~JobThread() {
  if (thread_.Valid()) {
    InterlockedExchange(&stopping_, 1);
    SetEvent(work_.Get());
    WaitForSingleObject(thread_.Get(), INFINITE);
  }
  DeleteCriticalSection(&lock_);
}

std::unique_ptr<JobThread> JobThread::Make() {
  std::unique_ptr<JobThread> made(new JobThread);
  made->work_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (made->work_.Valid()) made->thread_ = UniqueHandle(CreateThread(nullptr, 0, &Run, made.get(), 0, nullptr));
  if (!made->thread_.Valid()) return nullptr;
  return made;
}

JobThread* JobThread::Flushes() {
  static JobThread* const thread = Make().release();
  return thread;
}

void JobThread::Queue(Job& job) {
  EnterCriticalSection(&lock_);
  job.next_ = nullptr;
  (last_ ? last_->next_ : first_) = &job;
  last_ = &job;
  LeaveCriticalSection(&lock_);
  // Under Wine every SetEvent and every wait is a round trip to the server: the thread is
  // woken only when it said it sleeps.
  if (InterlockedExchange(&sleeps_, 0)) SetEvent(work_.Get());
}

Job* JobThread::Next() {
  EnterCriticalSection(&lock_);
  Job* next = first_;
  if (next && !(first_ = next->next_)) last_ = nullptr;
  LeaveCriticalSection(&lock_);
  return next;
}

DWORD WINAPI JobThread::Run(void* self) {
  auto& thread = *static_cast<JobThread*>(self);
  for (;;) {
    Job* job = thread.Next();
    if (!job) {
      if (Load(thread.stopping_)) return 0;
      // Said before the queue is looked at again, so that a job queued meanwhile wakes it;
      // a wake that came late leaves the event set, and the queue is only looked at again.
      InterlockedExchange(&thread.sleeps_, 1);
      if (!(job = thread.Next())) {
        WaitForSingleObject(thread.work_.Get(), INFINITE);
        continue;
      }
      InterlockedExchange(&thread.sleeps_, 0);
    }
    job->Run();
    // Read first: once idle, the job may be gone at any moment.
    const HANDLE done = job->done_.Get();
    if (InterlockedExchange(&job->state_, Job::kIdle) == Job::kAwaited) SetEvent(done);
  }
}

bool BackgroundFlush::Start(HANDLE file) {
  if (!WaitFlushed()) return false;
  file_ = file;
  return QueueOn(JobThread::Flushes()) || FlushFileBuffers(file) != FALSE;
}

bool BackgroundFlush::WaitFlushed() {
  Wait();
  return !failed_;
}

void BackgroundFlush::Run() {
  if (!FlushFileBuffers(file_)) failed_ = true;
}

void ThreadWorker::Start(std::function<void()> task) {
  task_.Wait();
  task_.work = std::move(task);
  if (!task_.QueueOn(thread_.get())) task_.work();
}

}  // namespace varno::win32
