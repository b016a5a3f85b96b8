// Watches the updater's window from another process while it works: sends it WM_NULL with a
// one-second timeout every few milliseconds, reads its progress bar's position, and prints
// what it saw. The longest answer approaches the longest time the window went without
// looking at its messages.
//
//   varno_window_probe SECONDS [INTERVAL_MS]
//
// Ends once the progress bar was seen and then hidden, the window is gone, or after SECONDS.
// Exit status 0 when every message was answered within a second and the bar's position grew.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
  const int interval = argc > 2 ? std::atoi(argv[2]) : 20;
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int samples = 0, unanswered = 0, increases = 0;
  long firstPosition = -1, lastPosition = -1;
  double longest = 0, sum = 0;
  bool barSeen = false;
  for (;;) {
    QueryPerformanceCounter(&now);
    if (Milliseconds(start, now, frequency) > seconds * 1000.0) break;
    const HWND form = FindWindowA("TForm1", nullptr);
    const HWND bar = form ? FindWindowExA(form, nullptr, PROGRESS_CLASSA, nullptr) : nullptr;
    if (!bar || !IsWindowVisible(bar)) {
      if (barSeen) break;
      Sleep(interval);
      continue;
    }
    barSeen = true;
    LARGE_INTEGER sent, answered;
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&sent);
    const bool ok = SendMessageTimeoutA(form, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0;
    QueryPerformanceCounter(&answered);
    const double took = Milliseconds(sent, answered, frequency);
    ++samples;
    if (!ok) ++unanswered;
    if (took > longest) longest = took;
    sum += took;
    if (took >= 100) {
      // The wall clock (Unix seconds), to set beside the steps of the test driving the window.
      FILETIME wall;
      GetSystemTimeAsFileTime(&wall);
      const double unix = ((static_cast<unsigned long long>(wall.dwHighDateTime) << 32 | wall.dwLowDateTime) -
                           116444736000000000ULL) / 1e7;
      std::printf("slow: %.0f ms, answered %s at %.3f, bar at %ld\n", took, ok ? "yes" : "no", unix, lastPosition);
    }
    DWORD_PTR position = 0;
    if (SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, 1000, &position)) {
      const long p = static_cast<long>(position);

      if (firstPosition < 0) firstPosition = p;
      if (lastPosition >= 0 && p > lastPosition) ++increases;
      lastPosition = p;
    }
    Sleep(interval);
  }
  std::printf("samples %d unanswered %d longest_ms %.1f mean_ms %.2f first_position %ld last_position %ld increases %d\n",
              samples, unanswered, longest, samples ? sum / samples : 0.0, firstPosition, lastPosition, increases);
  return samples >= 3 && unanswered == 0 && longest < 1000 && increases > 0 ? 0 : 1;
}
