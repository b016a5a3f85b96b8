// A file read from bytes in memory. Its reads may be limited to a few bytes at a time, as a
// real file may give them, and it seeks anywhere, past the end too, as a real file does
// (reads there give nothing).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/files.h"

namespace varno::fake {

class BytesInput : public InputFile {
 public:
  explicit BytesInput(std::string bytes, size_t chunk = SIZE_MAX) : bytes_(std::move(bytes)), chunk_(chunk) {}
  size_t Read(char* buffer, size_t size) override {
    if (position_ >= bytes_.size()) return 0;
    const size_t got = std::min({size, chunk_, size_t(bytes_.size() - position_)});
    std::memcpy(buffer, bytes_.data() + position_, got);
    position_ += got;
    return got;
  }
  bool Seek(uint64_t position) override {
    position_ = position;
    return true;
  }
  uint64_t Size() override { return bytes_.size(); }

 private:
  std::string bytes_;  // a snapshot: later changes to where they came from do not show through
  size_t chunk_;
  uint64_t position_ = 0;
};

}  // namespace varno::fake
