#include "progress.h"

#include <algorithm>
#include <csignal>

#ifdef _WIN32
#include <io.h>
#define VARNO_ISATTY _isatty
#define VARNO_FILENO _fileno
#else
#include <unistd.h>
#define VARNO_ISATTY isatty
#define VARNO_FILENO fileno
#endif

#include "host_text.h"

namespace varno::pack {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterruption(int) { interrupted = 1; }

}  // namespace

Progress Progress::ForTerminal(bool quiet) {
  return Progress(!quiet && VARNO_ISATTY(VARNO_FILENO(stderr)) ? stderr : nullptr);
}

void Progress::Begin(std::string label, uint64_t total) {
  label_ = std::move(label);
  total_ = total;
  done_ = 0;
  shownPercent_ = -1;
  active_ = true;
  Draw();
}

void Progress::Advance(uint64_t amount) {
  if (!active_) return;
  done_ += amount;
  Draw();
}

void Progress::End() {
  if (!active_) return;
  active_ = false;
  if (stream_) {
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
  }
}

void Progress::Draw() {
  if (!stream_) return;
  // Redrawn only when the percentage changes, so that small reads cost no output.
  const int percent = total_ == 0 ? 100 : static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  std::fprintf(stream_, "\r%s %3d%%", HostText(label_).c_str(), percent);
  std::fflush(stream_);
}

void WatchForInterruption() {
  std::signal(SIGINT, OnInterruption);
  std::signal(SIGTERM, OnInterruption);
#ifdef SIGHUP
  std::signal(SIGHUP, OnInterruption);
#endif
}

bool Interrupted() { return interrupted != 0; }

void SetInterrupted(bool value) { interrupted = value ? 1 : 0; }

}  // namespace varno::pack
