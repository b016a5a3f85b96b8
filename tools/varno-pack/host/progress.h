// A one-line progress meter for long work (building or unpacking a large archive). It
// draws on standard error only when that is a terminal, so logs and pipes get nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace varno::pack {

class Progress {
 public:
  // How the meter shows itself: a line redrawn in place on a terminal; one JSON object a
  // line, at each whole percent, for a release script that asked for them; one plain line
  // every few seconds for a log that nobody watches live.
  enum class Style { Redrawn, JsonLines, Periodic };

  // A meter that draws on stream, or one that never draws.
  explicit Progress(std::FILE* stream = nullptr, Style style = Style::Redrawn) : stream_(stream), style_(style) {}

  // Standard error: redrawn when it is a terminal, JSON lines when asked for, otherwise a
  // line every few seconds; nothing when the user asked for quiet (unless for JSON lines).
  static Progress ForTerminal(bool quiet, bool jsonLines = false);

  void Begin(std::string label, uint64_t total);
  void Advance(uint64_t amount);
  // Names the piece of work under way (a file of many), and shows it: redrawn on a
  // terminal, a JSON line, or a plain line when the last one is a second old.
  void Label(std::string label);
  // Clears the line; a meter that never began leaves nothing to clear.
  void End();

  bool Drawing() const { return stream_ != nullptr; }

 private:
  void Draw();
  void Show(int percent);

  std::FILE* stream_;
  Style style_;
  int64_t lastShownMs_ = 0;
  std::string label_;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  int shownPercent_ = -1;
  bool active_ = false;
};

// Interruption (Ctrl+C, or the end of the session): a long command stops at its next read
// and leaves no partial file behind. The flag is the process's own, as a signal is.
void WatchForInterruption();
bool Interrupted();
// For the tests, which stand for the user pressing Ctrl+C.
void SetInterrupted(bool interrupted);

}  // namespace varno::pack
