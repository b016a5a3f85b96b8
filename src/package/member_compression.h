// Compressing archive members with deflate, for the writers of packages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "package/archive_writer.h"
#include "platform/files.h"

namespace varno {

// Level 6 is zlib's own default: nearly the size of 9 on programs and libraries, at about
// twice its speed.
inline constexpr int kDefaultDeflateLevel = 6;

// The zlib stream of another file's bytes, made as it is read, with bounded memory (one
// input block and zlib's state). The source must give exactly realSize bytes; when it
// gives more or fewer, or cannot be read, the stream stops early and Failed() is true.
// The same bytes at the same level always give the same stream.
class DeflatingInput : public InputFile {
 public:
  DeflatingInput(std::unique_ptr<InputFile> source, uint64_t realSize, int level);
  ~DeflatingInput() override;
  size_t Read(char* buffer, size_t size) override;
  // Only to the current position: a stream made as it is read cannot go back.
  bool Seek(uint64_t position) override { return position == produced_; }
  // Unknown before the end: the bytes produced so far.
  uint64_t Size() override { return produced_; }
  bool Failed() const { return failed_; }

 private:
  bool Fill();
  std::unique_ptr<InputFile> source_;
  uint64_t realSize_;
  uint64_t consumed_ = 0;
  uint64_t produced_ = 0;
  struct Deflater;
  std::unique_ptr<Deflater> deflater_;
  std::vector<char> input_;
  bool sourceEnded_ = false;
  bool finished_ = false;
  bool failed_ = false;
};

// The size of the zlib stream of a source's real bytes; nothing when it cannot be read or
// does not give its size.
std::optional<uint64_t> DeflatedSize(const ArchiveSource& source, int level = kDefaultDeflateLevel);

// Compression is kept only where it saves at least a tenth: below that, the time spent
// inflating buys too little (already compressed files stay stored).
bool WorthCompressing(uint64_t realSize, uint64_t deflatedSize);

// The source as a compressed member whose stream is made again as the archive is written
// (deflatedSize as DeflatedSize gave it, at the same level).
ArchiveSource DeflatedSource(ArchiveSource source, uint64_t deflatedSize, int level = kDefaultDeflateLevel);

}  // namespace varno
