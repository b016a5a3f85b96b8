// The progress bar repaints at each move, so a run writing many small pieces must not move
// it at each: run on a display, a thousand positions given in a burst move it a few times,
// a turn of the messages brings it to the last one, the end shows at once, and so does the
// last position when the work ends. Exit code 0 when all four hold.
#include <cstdio>

#include "platform/win32/win32.h"
#include "platform/win32/win32_window.h"

namespace {

int moves = 0;
WNDPROC barProc = nullptr;

LRESULT CALLBACK CountMoves(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) ++moves;
  return CallWindowProcA(barProc, window, message, wParam, lParam);
}

}  // namespace

int main() {
  varno::win32::Win32ProgressWindow window;
  window.ShowForm();
  const HWND bar = window.ProgressBar();
  barProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountMoves)));
  const int steps = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
  const uint64_t total = 1000000;
  window.ShowProgress(total);
  const DWORD started = GetTickCount();
  for (uint64_t done = 1000; done < total; done += 1000) window.SetProgress(done);
  const DWORD took = GetTickCount() - started;
  const int burstMoves = moves;
  Sleep(120);
  window.ProcessPendingMessages();
  const int afterTurn = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
  window.SetProgress(total);
  const int atEnd = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
  window.ShowProgress(total);
  window.SetProgress(total / 2);
  window.RequestQuit();
  window.RunMessageLoop([] {});
  const int afterWork = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
  std::printf("bar of %d steps: %d moves for 999 positions in %lu ms; after a turn at %d; at the end %d; "
              "half-way when the work ended at %d\n",
              steps, burstMoves, static_cast<unsigned long>(took), afterTurn, atEnd, afterWork);
  // One move for the start, then at most one per 100 ms of the burst.
  const bool few = burstMoves <= 2 + static_cast<int>(took / 100);
  return few && afterTurn == static_cast<int>(999000ull * steps / total) && atEnd == steps && afterWork == steps / 2
             ? 0
             : 1;
}
