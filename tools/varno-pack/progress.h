// A one-line progress meter for long work (building or unpacking a large archive). It
// draws on standard error only when that is a terminal, so logs and pipes get nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace varno::pack {

class Progress {
 public:
  // A meter that draws on stream, or one that never draws.
  explicit Progress(std::FILE* stream = nullptr) : stream_(stream) {}

  // Standard error when it is a terminal and the user did not ask for quiet.
  static Progress ForTerminal(bool quiet);

  void Begin(std::string label, uint64_t total);
  void Advance(uint64_t amount);
  // Clears the line; a meter that never began leaves nothing to clear.
  void End();

  bool Drawing() const { return stream_ != nullptr; }

 private:
  void Draw();

  std::FILE* stream_;
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
