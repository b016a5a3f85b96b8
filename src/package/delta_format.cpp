#include "package/delta_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace varno {

namespace {

using Refusal = std::optional<std::string>;

uint32_t Load32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t Load64(const unsigned char* p) { return Load32(p) | uint64_t(Load32(p + 4)) << 32; }

void Store32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(char(value >> (8 * i)));
}

void Store64(std::string& out, uint64_t value) {
  Store32(out, uint32_t(value));
  Store32(out, uint32_t(value >> 32));
}

// The delta's bytes, read once from front to back, never past its end.
class DeltaStream {
 public:
  DeltaStream(InputFile& file, uint64_t size) : file_(file), left_(size) {}

  bool Read(void* buffer, size_t size) {
    if (size > left_) return false;
    char* at = static_cast<char*>(buffer);
    while (size > 0) {
      const size_t got = file_.Read(at, size);
      if (got == 0 || got > size) return false;
      at += got;
      size -= got;
      left_ -= got;
    }
    return true;
  }
  uint64_t Left() const { return left_; }

 private:
  InputFile& file_;
  uint64_t left_;
};

Refusal ParseHeader(DeltaStream& stream, DeltaHeader& header) {
  unsigned char bytes[delta::kHeaderSize];
  if (!stream.Read(bytes, sizeof bytes)) return "the delta is shorter than its header";
  if (std::memcmp(bytes, delta::kMagic, 4) != 0) return "not a delta (wrong magic)";
  header.version = Load32(bytes + 4);
  if (header.version != delta::kVersion && header.version != delta::kTripleVersion) {
    return "a delta format version this program does not read";
  }
  header.sourceSize = Load64(bytes + 8);
  header.resultSize = Load64(bytes + 16);
  header.sourceCrc32 = Load32(bytes + 24);
  header.resultCrc32 = Load32(bytes + 28);
  header.filter = Load32(bytes + 32);
  if (header.filter != delta::kFilterNone && header.filter != delta::kFilterX86) {
    return "a delta filter this program does not know";
  }
  if (header.sourceSize > delta::kMaxFileSize || header.resultSize > delta::kMaxFileSize) {
    return "the delta's header gives a size beyond the limit";
  }
  return std::nullopt;
}

// One inflater for every part, reset between them.
class Inflater {
 public:
  Inflater() { ok_ = inflateInit(&z_) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Unpacks a part of exactly `packed` bytes of the stream into exactly `size` bytes at
  // out, which has room for size + 1: a part that unpacks to more shows as that extra byte
  // and stops there.
  Refusal Part(DeltaStream& stream, uint32_t packed, char* out, uint32_t size) {
    if (!ok_) return "out of memory for the decompressor";
    if ((packed == 0) != (size == 0)) return "a block's part lengths disagree";
    if (packed == 0) return std::nullopt;
    if (packed > stream.Left()) return "the delta is truncated";
    inflateReset(&z_);
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = size + 1;
    z_.avail_in = 0;
    uint32_t left = packed;
    for (;;) {
      if (z_.avail_in == 0 && left > 0) {
        const uint32_t take = std::min<uint32_t>(left, sizeof input_);
        if (!stream.Read(input_, take)) return "the delta is truncated";
        left -= take;
        z_.next_in = input_;
        z_.avail_in = take;
      }
      const int result = inflate(&z_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        if (z_.avail_in != 0 || left != 0) return "a compressed part ends before its length";
        if (z_.total_out != size) return "a compressed part unpacks to another length than its block says";
        return std::nullopt;
      }
      if (result == Z_OK && z_.avail_out > 0) continue;
      if (z_.avail_out == 0) return "a compressed part unpacks to more than its block says";
      if (result == Z_BUF_ERROR && left == 0) return "a compressed part is cut short";
      return "a compressed part is corrupt";
    }
  }

 private:
  z_stream z_{};
  bool ok_ = false;
  Bytef input_[64 * 1024];
};

// Whether the branch filter's scan of a chunk, run from the chunk's start, must stop at
// position j (absolute; raw points at the byte of absolute position base): no instruction
// the scan could meet in the 5 bytes before j has an operand that runs over j. A call or
// jump at j-4..j-1 would skip past j, a conditional jump at j-5..j-1 too; without one, every
// path of the scan steps onto j.
bool ScanStopsAt(const unsigned char* raw, uint64_t base, uint64_t chunkStart, uint64_t j) {
  for (uint64_t k = std::max(chunkStart, j < 5 ? 0 : j - 5); k < j; ++k) {
    const unsigned char byte = raw[k - base];
    if ((byte == 0xE8 || byte == 0xE9) && k + 4 >= j) return false;
    if (byte == 0x0F && (raw[k + 1 - base] & 0xF0) == 0x80) return false;
  }
  return true;
}

// The branch filter's scan of one chunk from position j, where the scan from the chunk's
// start also stands, up to the first instruction at or past stop: the operands it converts
// are written into out (which holds the raw bytes of [first, stop)) where they overlap it.
// raw holds [j, min(chunkEnd, stop + 5)) at absolute position base. Returns where the scan
// stands next, or chunkEnd when it ended (an operand cut by the chunk's end).
uint64_t FilterInto(const unsigned char* raw, uint64_t base, uint64_t chunkEnd, uint64_t j, uint64_t first,
                    uint64_t stop, unsigned char* out) {
  uint64_t i = j;
  while (i < stop) {
    const unsigned char byte = raw[i - base];
    uint64_t operand;
    if (byte == 0xE8 || byte == 0xE9) {
      operand = i + 1;
    } else if (byte == 0x0F && i + 1 < chunkEnd && (raw[i + 1 - base] & 0xF0) == 0x80) {
      operand = i + 2;
    } else {
      ++i;
      continue;
    }
    if (operand + 4 > chunkEnd) return chunkEnd;
    i = operand + 4;
    uint32_t value = Load32(raw + (operand - base));
    const uint32_t top = value >> 24;
    if (top != 0 && top != 0xFF) continue;
    value += uint32_t(i);
    value = ((value & 0x1FFFFFF) ^ 0x1000000) - 0x1000000;
    for (uint64_t b = 0; b < 4; ++b) {
      const uint64_t at = operand + b;
      if (at >= first && at < stop) out[at - first] = uint8_t(value >> (8 * b));
    }
  }
  return i;
}

// The source, read as the entries use it. Each entry announces the stretch it reads
// (Expect), which is read in one go, never more than the window holds; the bytes the
// entries skip are never read, and a stretch the window still holds is not read again.
// With the branch filter, only the bytes handed out are filtered: the filter's scan of a
// chunk is taken up where it must stand, found a few bytes back (ScanStopsAt) or where the
// last scan of that chunk stopped, and from the chunk's start only when neither is near.
// So every source byte is read and filtered about once for each use, whatever the order of
// the entries, in at most 1 MiB for the window and 64 KiB for the filtered bytes.
class SourceWindow {
 public:
  SourceWindow(InputFile& file, uint64_t size, uint32_t filter, std::vector<char>& buffer, std::vector<char>& filtered)
      : file_(file), size_(size), filter_(filter), buffer_(buffer), filtered_(filtered) {}
  static constexpr size_t kMaxSpan = 64 * 1024;

  // The next entry reads `count` bytes from position: read them in one go when they are
  // not in the window.
  void Expect(uint64_t position, uint64_t count) { expectEnd_ = position + count; }

  // The `count` (at most kMaxSpan) source bytes at position, all inside the source.
  const char* At(uint64_t position, size_t count) {
    if (filter_ != delta::kFilterX86) return Raw(position, position + count);
    if (filtered_.size() < kMaxSpan) filtered_.resize(kMaxSpan);
    auto* out = reinterpret_cast<unsigned char*>(filtered_.data());
    for (uint64_t at = position, end = position + count; at < end;) {
      const uint64_t chunkStart = at - at % delta::kFilterChunk;
      const uint64_t chunkEnd = std::min(size_, chunkStart + delta::kFilterChunk);
      const uint64_t stop = std::min(end, chunkEnd);
      if (!FilterPiece(chunkStart, chunkEnd, at, stop, out + (at - position))) return nullptr;
      at = stop;
    }
    return filtered_.data();
  }

 private:
  // How far back a place where the scan must stand is looked for before the scan is taken
  // up from further back.
  static constexpr uint64_t kScanReach = 256;

  bool FilterPiece(uint64_t chunkStart, uint64_t chunkEnd, uint64_t first, uint64_t stop, unsigned char* out) {
    const uint64_t readEnd = std::min(chunkEnd, stop + 5);
    uint64_t from = std::max(chunkStart, first < kScanReach ? 0 : first - kScanReach);
    const char* raw = Raw(from, readEnd);
    if (!raw) return false;
    // The scan can be taken up at j only where the 5 bytes before j are in the window.
    const uint64_t lowest = from == chunkStart ? chunkStart : from + 5;
    uint64_t j = first;
    bool found = scanAt_ == first;
    while (!found) {
      if (ScanStopsAt(reinterpret_cast<const unsigned char*>(raw), from, chunkStart, j)) {
        found = true;
      } else if (j == lowest) {
        break;
      } else {
        --j;
      }
    }
    if (!found) {
      // Nothing near tells where the scan stands: take it up where it last stopped in this
      // chunk, or from the chunk's start.
      from = (scanAt_ >= chunkStart && scanAt_ <= first) ? scanAt_ : chunkStart;
      j = from;
      raw = Raw(from, readEnd);
      if (!raw) return false;
    }
    std::memcpy(out, raw + (first - from), size_t(stop - first));
    scanAt_ = FilterInto(reinterpret_cast<const unsigned char*>(raw), from, chunkEnd, j, first, stop, out);
    return true;
  }

  // The raw source bytes [from, to) (to - from at most the window), read when the window
  // does not hold them: what it holds of them is kept, and the rest of the announced
  // stretch is read with them.
  const char* Raw(uint64_t wanted, uint64_t to) {
    if (wanted >= start_ && to <= start_ + filled_) return buffer_.data() + (wanted - start_);
    uint64_t from = wanted;
    const size_t window = size_t(std::min<uint64_t>(size_, kWindow));
    if (buffer_.size() < window) buffer_.resize(window);
    // An entry that starts a few bytes past the window (code that moved: the usual small
    // seeks forward) is read on from where the file stands, the bytes between included, and
    // a little ahead for the next ones: each read costs a call into the system, which under
    // Wine costs as much as reading kilobytes.
    const uint64_t end = start_ + filled_;
    const bool onward = read_ && filePosition_ == end && from >= start_ && from <= end + kReadAhead;
    if (onward && from > end) from = end;
    uint64_t want = std::max(to, std::min(expectEnd_ + 5, size_));
    if (onward) want = std::max(want, std::min(end + kReadAhead, size_));
    want = std::min(want, from + window);
    size_t kept = 0;
    if (from >= start_ && from < end) {
      kept = size_t(end - from);
      std::memmove(buffer_.data(), buffer_.data() + (from - start_), kept);
    }
    const uint64_t readFrom = from + kept;
    // Entries mostly walk the source forward: the read then starts where the file stands.
    if (!(read_ && readFrom == filePosition_) && !file_.Seek(readFrom)) return nullptr;
    read_ = true;
    start_ = from;
    filled_ = kept;
    filePosition_ = readFrom;
    while (start_ + filled_ < want) {
      const size_t got = file_.Read(buffer_.data() + filled_, size_t(want - start_ - filled_));
      if (got == 0 || got > want - start_ - filled_) return nullptr;
      filled_ += got;
      filePosition_ += got;
    }
    return buffer_.data() + (wanted - start_);
  }

  // Room for the longest span and the scan taken up from its chunk's start.
  static constexpr size_t kWindow = 1024 * 1024;
  static constexpr uint64_t kReadAhead = 8 * 1024;
  static_assert(kWindow >= delta::kFilterChunk + kMaxSpan + 5);
  InputFile& file_;
  uint64_t size_;
  uint32_t filter_;
  std::vector<char>& buffer_;
  std::vector<char>& filtered_;
  uint64_t start_ = 0;
  size_t filled_ = 0;
  uint64_t expectEnd_ = 0;
  uint64_t filePosition_ = 0;
  bool read_ = false;
  uint64_t scanAt_ = UINT64_MAX;  // where the last scan stopped (in its chunk)
};

// The result, written in large pieces (cheaper under Wine), never past its announced size.
// Each buffer grows to what the result needs, up to kMaxBuffer: a whole number of filter
// chunks, so that every flush but the last unfilters whole chunks at their own offsets.
// The two buffers take turns, so that a piece written stays untouched until the write after
// it has returned.
class ResultWriter {
 public:
  ResultWriter(OutputFile& out, uint64_t size, uint32_t filter, bool crc, std::vector<char> (&buffers)[2])
      : out_(out),
        left_(size),
        capacity_(size_t(std::min<uint64_t>(size, kMaxBuffer))),
        filter_(filter),
        buffers_(buffers),
        crc_(crc) {}
  static constexpr size_t kMaxBuffer = 1024 * 1024;
  static_assert(kMaxBuffer % delta::kFilterChunk == 0);

  bool Put(const char* data, size_t size) {
    if (size > left_) return false;
    left_ -= size;
    while (size > 0) {
      if (used_ == capacity_ && !Flush()) return false;
      std::vector<char>& buffer = buffers_[current_];
      if (used_ == buffer.size()) buffer.resize(std::min(capacity_, std::max<size_t>(4096, 2 * buffer.size())));
      const size_t take = std::min(size, std::min(capacity_, buffer.size()) - used_);
      std::memcpy(buffer.data() + used_, data, take);
      used_ += take;
      data += take;
      size -= take;
    }
    return true;
  }
  bool Flush() {
    if (used_ == 0) return true;
    char* const bytes = buffers_[current_].data();
    if (filter_ == delta::kFilterX86) {
      for (size_t at = 0; at < used_; at += delta::kFilterChunk) {
        X86Filter(reinterpret_cast<unsigned char*>(bytes) + at, std::min<size_t>(delta::kFilterChunk, used_ - at),
                  flushed_ + at, false);
      }
    }
    if (crc_) crcValue_ = crc32(crcValue_, reinterpret_cast<const Bytef*>(bytes), uInt(used_));
    const bool written = out_.Write(bytes, used_);
    flushed_ += used_;
    used_ = 0;
    current_ ^= 1;
    return written;
  }
  uint64_t Left() const { return left_; }
  uint32_t Crc() const { return uint32_t(crcValue_); }

 private:
  OutputFile& out_;
  uint64_t left_;
  size_t capacity_;
  uint32_t filter_;
  std::vector<char> (&buffers_)[2];
  int current_ = 0;
  size_t used_ = 0;
  uint64_t flushed_ = 0;
  bool crc_;
  uLong crcValue_ = crc32(0, nullptr, 0);
};

// The difference part's range decoder, which reads the part's bytes as it needs them.
class RangeDecoder {
 public:
  void Start(const unsigned char* at, const unsigned char* end) {
    at_ = at;
    end_ = end;
    started_ = overrun_ = false;
  }
  // The next bit, coded with probability `zero` (of kProbabilityOne) of a 0, which it adapts.
  unsigned Bit(uint16_t& zero, unsigned) {
    if (!started_) {
      started_ = true;
      range_ = 0xFFFFFFFF;
      code_ = 0;
      for (int i = 0; i < 5; ++i) code_ = code_ << 8 | Next();
    }
    const uint32_t bound = (range_ >> delta::kProbabilityBits) * zero;
    unsigned bit;
    if (code_ < bound) {
      range_ = bound;
      zero = uint16_t(zero + ((delta::kProbabilityOne - zero) >> delta::kAdaptShift));
      bit = 0;
    } else {
      code_ -= bound;
      range_ -= bound;
      zero = uint16_t(zero - (zero >> delta::kAdaptShift));
      bit = 1;
    }
    while (range_ < delta::kRangeTop) {
      range_ <<= 8;
      code_ = code_ << 8 | Next();
    }
    return bit;
  }
  // Not started on an empty part, read to its last byte and not beyond otherwise.
  bool UsedExactly() const { return !overrun_ && at_ == end_; }
  bool Overrun() const { return overrun_; }

 private:
  uint8_t Next() {
    if (at_ == end_) {
      overrun_ = true;
      return 0;
    }
    return *at_++;
  }
  const unsigned char* at_ = nullptr;
  const unsigned char* end_ = nullptr;
  uint32_t range_ = 0, code_ = 0;
  bool started_ = false, overrun_ = false;
};

// Reads one LEB128 varint of at most delta::kMaxVarintBytes bytes.
template <class Byte>
bool ReadVarint(Byte*& at, const unsigned char* end, uint64_t& value) {
  value = 0;
  for (int i = 0; i < delta::kMaxVarintBytes; ++i) {
    if (at == end) return false;
    const unsigned char byte = *at++;
    value |= uint64_t(byte & 0x7F) << (7 * i);
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

struct Block {
  uint32_t control, difference, extra;
  uint32_t controlPacked, differencePacked, extraPacked;
};

Refusal ReadBlockHeader(DeltaStream& stream, uint32_t version, Block& block) {
  unsigned char bytes[delta::kBlockHeaderSize];
  if (!stream.Read(bytes, sizeof bytes)) return "the delta is truncated";
  block = {Load32(bytes), Load32(bytes + 4), Load32(bytes + 8),
           Load32(bytes + 12), Load32(bytes + 16), Load32(bytes + 20)};
  if (block.control == 0 || block.control > delta::kMaxControlBytes ||
      block.difference > delta::kMaxDifferenceBytes || block.extra > delta::kMaxExtraBytes) {
    return "a block's lengths pass the format's limits";
  }
  if (version == delta::kTripleVersion && block.difference == 0 && block.extra == 0) return "a block gives no result byte";
  if (block.differencePacked != block.difference) return "a block's part lengths disagree";
  if (uint64_t(block.controlPacked) + block.differencePacked + block.extraPacked > stream.Left()) {
    return "the delta is truncated";
  }
  return std::nullopt;
}

// What the decoder keeps from one delta to the next.
struct DecoderBuffers {
  Inflater inflater;
  std::vector<char> window, filtered, control, difference, extra;
  std::vector<char> results[2];
  std::unique_ptr<delta::DifferenceModel> model;
};

class Decoder {
 public:
  Decoder(DeltaStream& stream, const DeltaHeader& header, InputFile& source, OutputFile& out, ResultCheck check,
          DecoderBuffers& buffers)
      : stream_(stream),
        header_(header),
        check_(check),
        source_(source, header.sourceSize, header.filter, buffers.window, buffers.filtered),
        result_(out, header.resultSize, header.filter, check == ResultCheck::Crc32, buffers.results),
        inflater_(buffers.inflater),
        control_(buffers.control),
        difference_(buffers.difference),
        extra_(buffers.extra),
        model_(buffers.model) {}

  Refusal Run() {
    while (result_.Left() > 0) {
      Block block;
      if (auto refusal = ReadBlockHeader(stream_, header_.version, block)) return refusal;
      if (auto refusal = Unpack(block.controlPacked, control_, block.control)) return refusal;
      if (auto refusal = Stored(difference_, block.difference)) return refusal;
      if (auto refusal = Unpack(block.extraPacked, extra_, block.extra)) return refusal;
      if (auto refusal = ApplyBlock(block)) return refusal;
    }
    if (stream_.Left() != 0) return "bytes follow the delta's last block";
    if (!result_.Flush()) return "the result could not be written";
    if (check_ == ResultCheck::Crc32 && result_.Crc() != header_.resultCrc32) return "the result does not match its checksum (another source file?)";
    return std::nullopt;
  }

 private:
  // The buffers grow to what the blocks need, within the format's limits.
  Refusal Unpack(uint32_t packed, std::vector<char>& buffer, uint32_t size) {
    if (buffer.size() < size_t(size) + 1) buffer.resize(size_t(size) + 1);
    return inflater_.Part(stream_, packed, buffer.data(), size);
  }

  Refusal Stored(std::vector<char>& buffer, uint32_t size) {
    if (buffer.size() < size) buffer.resize(size);
    if (!stream_.Read(buffer.data(), size)) return "the delta is truncated";
    return std::nullopt;
  }

  Refusal ApplyBlock(const Block& block) {
    const auto* at = reinterpret_cast<const unsigned char*>(control_.data());
    const auto* end = at + block.control;
    const auto* differences = reinterpret_cast<const unsigned char*>(difference_.data());
    ranges_.Start(differences, differences + block.difference);
    // Made on the first block with differences (most deltas have them; the refused ones
    // mostly do not get that far), and made afresh for each delta.
    if (block.difference > 0 && !modelReady_) {
      if (model_) {
        model_->Reset();
      } else {
        model_ = std::make_unique<delta::DifferenceModel>();
      }
      modelReady_ = true;
    }
    const bool withSame = header_.version != delta::kTripleVersion;
    const uint64_t leftBefore = result_.Left();
    uint32_t extraUsed = 0;
    while (at != end) {
      uint64_t add, same = 0, copy, zigzag;
      if (!ReadVarint(at, end, add) || (withSame && !ReadVarint(at, end, same)) || !ReadVarint(at, end, copy) ||
          !ReadVarint(at, end, zigzag)) {
        return "a control entry is malformed";
      }
      if (copy > block.extra - extraUsed) return "a control entry uses more bytes than its block holds";
      // Each at most 35 bits: the sums cannot overflow.
      if (add + same + copy > result_.Left()) return "the delta gives more than the result size";
      if (add + same > header_.sourceSize - sourcePosition_) return "the delta reads past the source's end";
      source_.Expect(sourcePosition_, add + same);
      if (auto refusal = Add(add)) return refusal;
      if (auto refusal = Keep(same)) return refusal;
      if (!result_.Put(extra_.data() + extraUsed, size_t(copy))) return "the result could not be written";
      extraUsed += uint32_t(copy);
      // Zigzag: the low bit is the sign; a 35-bit value keeps the magnitude far from overflow.
      const uint64_t magnitude = (zigzag >> 1) + (zigzag & 1);
      if (zigzag & 1) {
        if (magnitude > sourcePosition_) return "the delta seeks before the source's start";
        sourcePosition_ -= magnitude;
      } else {
        if (magnitude > header_.sourceSize - sourcePosition_) return "the delta seeks past the source's end";
        sourcePosition_ += magnitude;
      }
    }
    if (!ranges_.UsedExactly() || extraUsed != block.extra) {
      return "a block's control does not use exactly its bytes";
    }
    if (result_.Left() == leftBefore) return "a block gives no result byte";
    return std::nullopt;
  }

  // Result bytes: the source bytes at the source position, unchanged.
  Refusal Keep(uint64_t count) {
    while (count > 0) {
      const size_t span = size_t(std::min<uint64_t>(count, SourceWindow::kMaxSpan));
      const char* source = source_.At(sourcePosition_, span);
      if (!source) return "the source could not be read";
      if (!result_.Put(source, span)) return "the result could not be written";
      sourcePosition_ += span;
      count -= span;
    }
    return std::nullopt;
  }

  // Result bytes: the source bytes at the source position plus the difference bytes.
  Refusal Add(uint64_t count) {
    while (count > 0) {
      if (!modelReady_ || ranges_.Overrun()) return "the adds read past a block's difference part";
      const size_t span = size_t(std::min<uint64_t>(count, sizeof staging_));
      const char* source = source_.At(sourcePosition_, span);
      if (!source) return "the source could not be read";
      // The coder and the model in locals: the bytes written through char would otherwise
      // make the compiler reload them from memory at every bit.
      RangeDecoder ranges = ranges_;
      delta::DifferenceModel& model = *model_;
      for (size_t i = 0; i < span; ++i) {
        const auto byte = uint8_t(source[i]);
        staging_[i] = char(byte + model.Code(ranges, byte, 0));
      }
      ranges_ = ranges;
      if (!result_.Put(staging_, span)) return "the result could not be written";
      sourcePosition_ += span;
      count -= span;
    }
    return std::nullopt;
  }

  DeltaStream& stream_;
  const DeltaHeader& header_;
  ResultCheck check_;
  SourceWindow source_;
  ResultWriter result_;
  Inflater& inflater_;
  std::vector<char>& control_;
  std::vector<char>& difference_;
  std::vector<char>& extra_;
  uint64_t sourcePosition_ = 0;
  RangeDecoder ranges_;
  std::unique_ptr<delta::DifferenceModel>& model_;
  bool modelReady_ = false;
  char staging_[4096];
};

}  // namespace

size_t X86Filter(unsigned char* bytes, size_t size, uint64_t offset, bool forward) {
  size_t i = 0, converted = 0;
  while (i < size) {
    size_t operand;
    if (bytes[i] == 0xE8 || bytes[i] == 0xE9) {
      operand = i + 1;
    } else if (bytes[i] == 0x0F && i + 1 < size && (bytes[i + 1] & 0xF0) == 0x80) {
      operand = i + 2;
    } else {
      ++i;
      continue;
    }
    if (operand + 4 > size) break;
    // The operand is passed over whether converted or not: no later conversion may touch
    // the bytes this decision read, so that the reverse pass decides alike.
    i = operand + 4;
    uint32_t value = Load32(bytes + operand);
    const uint32_t top = value >> 24;
    if (top != 0 && top != 0xFF) continue;
    // The displacement counts from the next instruction; modulo 2^25, sign-extended, so
    // that the filtered value has the same kind of top byte and the reverse pass finds it.
    const uint32_t next = uint32_t(offset + i);
    value = forward ? value + next : value - next;
    value = ((value & 0x1FFFFFF) ^ 0x1000000) - 0x1000000;
    for (int b = 0; b < 4; ++b) bytes[operand + size_t(b)] = uint8_t(value >> (8 * b));
    ++converted;
  }
  return converted;
}

std::string DeltaHeaderBytes(const DeltaHeader& header) {
  std::string bytes(delta::kMagic, 4);
  Store32(bytes, header.version);
  Store64(bytes, header.sourceSize);
  Store64(bytes, header.resultSize);
  Store32(bytes, header.sourceCrc32);
  Store32(bytes, header.resultCrc32);
  Store32(bytes, header.filter);
  return bytes;
}

std::optional<DeltaHeader> ReadDeltaHeader(InputFile& delta, uint64_t deltaSize) {
  DeltaStream stream(delta, deltaSize);
  DeltaHeader header;
  if (ParseHeader(stream, header)) return std::nullopt;
  return header;
}

struct DeltaApplier::Buffers : DecoderBuffers {};

// The buffers (about 4 MB at most) live on the heap, not the caller's stack.
DeltaApplier::DeltaApplier() : buffers_(std::make_unique<Buffers>()) {}
DeltaApplier::~DeltaApplier() = default;

std::optional<std::string> DeltaApplier::Apply(InputFile& delta, uint64_t deltaSize, InputFile& source,
                                               OutputFile& out, ResultCheck check) {
  DeltaStream stream(delta, deltaSize);
  DeltaHeader header;
  if (auto refusal = ParseHeader(stream, header)) return refusal;
  if (source.Size() != header.sourceSize) return "the source's size is not the one the delta was made from";
  return Decoder(stream, header, source, out, check, *buffers_).Run();
}

std::optional<std::string> ApplyDelta(InputFile& delta, uint64_t deltaSize, InputFile& source, OutputFile& out,
                                      ResultCheck check) {
  return DeltaApplier().Apply(delta, deltaSize, source, out, check);
}

}  // namespace varno
