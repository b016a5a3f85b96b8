#include "package/member_compression.h"

#include <zlib.h>

#include <algorithm>

#include "package/member_stream.h"

namespace varno {

struct DeflatingInput::Deflater {
  z_stream z{};
  bool open = false;
  ~Deflater() {
    if (open) deflateEnd(&z);
  }
};

DeflatingInput::DeflatingInput(std::unique_ptr<InputFile> source, uint64_t realSize, int level)
    : source_(std::move(source)), realSize_(realSize), deflater_(std::make_unique<Deflater>()) {
  if (!source_ || deflateInit(&deflater_->z, level) != Z_OK) {
    failed_ = true;
    return;
  }
  deflater_->open = true;
  input_.resize(kMemberInputBlockSize);
}

DeflatingInput::~DeflatingInput() = default;

// The next block of the source; at its end, checks that it gave exactly its size.
bool DeflatingInput::Fill() {
  size_t filled = 0;
  while (filled < input_.size()) {
    const size_t read = source_->Read(input_.data() + filled, input_.size() - filled);
    if (read == 0) break;
    filled += read;
  }
  consumed_ += filled;
  if (consumed_ > realSize_) return false;
  if (filled < input_.size()) {
    sourceEnded_ = true;
    if (consumed_ != realSize_) return false;
  }
  deflater_->z.next_in = reinterpret_cast<Bytef*>(input_.data());
  deflater_->z.avail_in = static_cast<uInt>(filled);
  return true;
}

size_t DeflatingInput::Read(char* buffer, size_t size) {
  if (failed_ || finished_ || size == 0) return 0;
  z_stream& z = deflater_->z;
  z.next_out = reinterpret_cast<Bytef*>(buffer);
  z.avail_out = static_cast<uInt>(std::min<size_t>(size, size_t{1} << 30));
  const uInt offered = z.avail_out;
  while (z.avail_out > 0 && !finished_) {
    if (z.avail_in == 0 && !sourceEnded_ && !Fill()) {
      failed_ = true;
      return 0;
    }
    const int status = deflate(&z, sourceEnded_ ? Z_FINISH : Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      finished_ = true;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      failed_ = true;
      return 0;
    }
  }
  const size_t produced = offered - z.avail_out;
  produced_ += produced;
  return produced;
}

std::optional<uint64_t> DeflatedSize(const ArchiveSource& source, int level) {
  DeflatingInput stream(source.open ? source.open() : nullptr, source.size, level);
  std::vector<char> buffer(1 << 16);
  uint64_t total = 0;
  while (const size_t read = stream.Read(buffer.data(), buffer.size())) total += read;
  if (stream.Failed()) return std::nullopt;
  return total;
}

bool WorthCompressing(uint64_t realSize, uint64_t deflatedSize) {
  return deflatedSize <= realSize - realSize / 10 && deflatedSize < realSize;
}

ArchiveSource DeflatedSource(ArchiveSource source, uint64_t deflatedSize, int level) {
  auto open = std::move(source.open);
  const uint64_t realSize = source.size;
  source.method = archive::kDeflate;
  source.storedSize = deflatedSize;
  source.open = [open = std::move(open), realSize, level]() -> std::unique_ptr<InputFile> {
    auto input = open ? open() : nullptr;
    if (!input) return nullptr;
    return std::make_unique<DeflatingInput>(std::move(input), realSize, level);
  };
  return source;
}

}  // namespace varno
