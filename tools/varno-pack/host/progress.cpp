#include "host/progress.h"

#include <algorithm>
#include <chrono>
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

#include <nlohmann/json.hpp>

#include "host/host_text.h"

namespace varno::pack {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterruption(int) { interrupted = 1; }

}  // namespace

Progress Progress::ForTerminal(bool quiet, bool jsonLines) {
  if (jsonLines) return Progress(stderr, Style::JsonLines);
  if (quiet) return Progress();
  return VARNO_ISATTY(VARNO_FILENO(stderr)) ? Progress(stderr) : Progress(stderr, Style::Periodic);
}

void Progress::Begin(std::string label, uint64_t total) {
  label_ = std::move(label);
  total_ = total;
  done_ = 0;
  shownPercent_ = -1;
  lastShownMs_ = 0;
  active_ = true;
  Draw();
}

void Progress::Advance(uint64_t amount) {
  if (!active_) return;
  done_ += amount;
  Draw();
}

void Progress::Label(std::string label) {
  if (!active_) return;
  label_ = std::move(label);
  if (!stream_) return;
  const int percent = total_ == 0 ? 100 : static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_);
  if (style_ == Style::Periodic) {
    // A log gets a line for the next file once it has had lines, at most one a second.
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch()).count();
    if (shownPercent_ < 0 || now - lastShownMs_ < 1000) return;
    lastShownMs_ = now;
  } else if (style_ == Style::Redrawn) {
    std::fputs("\r\033[K", stream_);
  }
  Show(percent);
}

void Progress::End() {
  if (!active_) return;
  // A script reading the lines sees each piece of work end, whatever it counted.
  if (stream_ && style_ != Style::Redrawn && !Interrupted()) {
    done_ = total_;
    lastShownMs_ = -1;
    Draw();
  }
  active_ = false;
  if (stream_ && style_ == Style::Redrawn) {
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
  }
}

void Progress::Draw() {
  if (!stream_) return;
  // Shown only when the percentage changes, so that small reads cost no output.
  const int percent = total_ == 0 ? 100 : static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_);
  if (percent == shownPercent_) return;
  if (style_ == Style::Periodic) {
    constexpr int64_t kEveryMs = 5000;
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch()).count();
    if (lastShownMs_ == 0) lastShownMs_ = now;  // a command shorter than that shows nothing
    if (lastShownMs_ > 0 && now - lastShownMs_ < kEveryMs) return;
    if (lastShownMs_ < 0 && shownPercent_ < 0) return;  // nor does its end
    lastShownMs_ = now;
  }
  Show(percent);
}

void Progress::Show(int percent) {
  shownPercent_ = percent;
  switch (style_) {
    case Style::Redrawn: std::fprintf(stream_, "\r%s %3d%%", HostText(label_).c_str(), percent); break;
    case Style::Periodic:
      std::fprintf(stream_, "%s: %d%% (%llu of %llu bytes)\n", HostText(label_).c_str(), percent,
                   static_cast<unsigned long long>(done_), static_cast<unsigned long long>(total_));
      break;
    case Style::JsonLines: {
      nlohmann::ordered_json line;
      line["progress"] = HostText(label_);
      line["percent"] = percent;
      line["done"] = done_;
      line["total"] = total_;
      std::fprintf(stream_, "%s\n", line.dump().c_str());
      break;
    }
  }
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
