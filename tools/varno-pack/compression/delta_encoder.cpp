#include "compression/delta_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "package/delta_format.h"

namespace varno::pack {

namespace {

// ---- Suffix array: SA-IS (induced sorting of the leftmost-smaller suffixes) ----

template <class Symbol>
std::vector<int32_t> NaiveSuffixArray(const Symbol* s, int32_t n) {
  std::vector<int32_t> sa(size_t(n), 0);
  for (int32_t i = 0; i < n; ++i) sa[size_t(i)] = i;
  std::sort(sa.begin(), sa.end(), [&](int32_t a, int32_t b) {
    return std::lexicographical_compare(s + a, s + n, s + b, s + n);
  });
  return sa;
}

// s holds n symbols in 0..upper. Every suffix is typed S (smaller than the next suffix) or
// L (larger); sorting the LMS suffixes (an S right after an L) is enough to place all the
// others by two induction passes over the buckets. The LMS substrings are sorted by one
// induction, named, and the names' string sorted recursively when two of them are equal.
template <class Symbol>
std::vector<int32_t> SaIs(const Symbol* s, int32_t n, int32_t upper) {
  if (n < 16) return NaiveSuffixArray(s, n);
  const auto at = [&](int32_t i) { return int32_t(s[i]); };
  std::vector<int32_t> sa(static_cast<size_t>(n));
  // Bytes rather than bits: the induction passes read them at random, about 4n times.
  std::vector<uint8_t> isS(size_t(n), 0);  // the last suffix is L (an end smaller than all)
  for (int32_t i = n - 2; i >= 0; --i) {
    isS[size_t(i)] = at(i) == at(i + 1) ? isS[size_t(i) + 1] : uint8_t(at(i) < at(i + 1));
  }
  // bucketL[c]: the first slot of symbol c's bucket; bucketS[c]: the first slot of its S part.
  std::vector<int32_t> bucketL(size_t(upper) + 1, 0), bucketS(size_t(upper) + 1, 0);
  for (int32_t i = 0; i < n; ++i) {
    if (!isS[size_t(i)]) {
      ++bucketS[size_t(at(i))];
    } else if (at(i) < upper) {
      ++bucketL[size_t(at(i)) + 1];
    }
  }
  for (int32_t c = 0; c <= upper; ++c) {
    bucketS[size_t(c)] += bucketL[size_t(c)];
    if (c < upper) bucketL[size_t(c) + 1] += bucketS[size_t(c)];
  }
  const auto isLms = [&](int32_t i) { return i > 0 && isS[size_t(i)] && !isS[size_t(i) - 1]; };

  std::vector<int32_t> next(size_t(upper) + 1);
  const auto induce = [&](const std::vector<int32_t>& lms) {
    std::fill(sa.begin(), sa.end(), -1);
    next = bucketS;
    for (int32_t d : lms) sa[size_t(next[size_t(at(d))]++)] = d;
    next = bucketL;
    sa[size_t(next[size_t(at(n - 1))]++)] = n - 1;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t v = sa[size_t(i)];
      if (v >= 1 && !isS[size_t(v) - 1]) sa[size_t(next[size_t(at(v - 1))]++)] = v - 1;
    }
    next = bucketL;
    for (int32_t i = n - 1; i >= 0; --i) {
      const int32_t v = sa[size_t(i)];
      // An S suffix never starts with the largest symbol, so c + 1 stays in range.
      if (v >= 1 && isS[size_t(v) - 1]) sa[size_t(--next[size_t(at(v - 1)) + 1])] = v - 1;
    }
  };

  std::vector<int32_t> lmsIndex(size_t(n), -1);
  std::vector<int32_t> lms;
  for (int32_t i = 1; i < n; ++i) {
    if (isLms(i)) {
      lmsIndex[size_t(i)] = int32_t(lms.size());
      lms.push_back(i);
    }
  }
  induce(lms);
  const int32_t m = int32_t(lms.size());
  if (m == 0) return sa;

  std::vector<int32_t> sorted;
  sorted.reserve(size_t(m));
  for (int32_t v : sa) {
    if (lmsIndex[size_t(v)] != -1) sorted.push_back(v);
  }
  // Name each LMS substring (from its start to the next LMS position, both included).
  std::vector<int32_t> names(static_cast<size_t>(m));
  int32_t name = 0;
  names[size_t(lmsIndex[size_t(sorted[0])])] = 0;
  for (int32_t i = 1; i < m; ++i) {
    int32_t l = sorted[size_t(i) - 1], r = sorted[size_t(i)];
    const int32_t endL = lmsIndex[size_t(l)] + 1 < m ? lms[size_t(lmsIndex[size_t(l)]) + 1] : n;
    const int32_t endR = lmsIndex[size_t(r)] + 1 < m ? lms[size_t(lmsIndex[size_t(r)]) + 1] : n;
    bool same = endL - l == endR - r;
    if (same) {
      while (l < endL && at(l) == at(r)) {
        ++l;
        ++r;
      }
      if (l == n || at(l) != at(r)) same = false;
    }
    if (!same) ++name;
    names[size_t(lmsIndex[size_t(sorted[size_t(i)])])] = name;
  }
  const std::vector<int32_t> order = SaIs(names.data(), m, name);
  for (int32_t i = 0; i < m; ++i) sorted[size_t(i)] = lms[size_t(order[size_t(i)])];
  induce(sorted);
  return sa;
}

// ---- Matching: the greedy scan for approximate matches ("Naive differences of executable
// code", C. Percival) ----

struct Triple {
  int64_t add = 0, copy = 0, seek = 0;
  int64_t newStart = 0, oldStart = 0;  // where the add starts in either file
};

int64_t MatchLength(const uint8_t* a, int64_t aSize, const uint8_t* b, int64_t bSize) {
  const int64_t limit = std::min(aSize, bSize);
  int64_t i = 0;
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

class Matcher {
 public:
  // progress is told the share of the new file walked, as first + share * span.
  Matcher(std::string_view oldBytes, std::string_view newBytes, const EncodeProgress& progress, double first,
          double span)
      : progress_(progress), first_(first + span * kSortShare), span_(span * (1 - kSortShare)), old_(reinterpret_cast<const uint8_t*>(oldBytes.data())), oldSize_(int64_t(oldBytes.size())),
        new_(reinterpret_cast<const uint8_t*>(newBytes.data())), newSize_(int64_t(newBytes.size())) {
    if (oldBytes.size() <= kSuffixArrayLimit) {
      sa_ = SuffixArray(oldBytes);
    } else {
      IndexBlocks();
    }
  }

  std::vector<Triple> Triples() {
    if (progress_) progress_(first_);  // the suffix array is sorted
    std::vector<Triple> triples;
    int64_t scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
    int64_t told = 0;
    while (scan < newSize_) {
      if (progress_ && scan - told >= kProgressStep) {
        told = scan;
        progress_(first_ + span_ * double(scan) / double(newSize_));
      }
      int64_t oldScore = 0;
      scan += len;
      for (int64_t scsc = scan; scan < newSize_; ++scan) {
        len = Search(scan, pos);
        for (; scsc < scan + len; ++scsc) {
          if (scsc + lastOffset < oldSize_ && old_[scsc + lastOffset] == new_[scsc]) ++oldScore;
        }
        // A match that the current alignment gives as well is no reason to change course;
        // a much better one is. A long match ends the walk as well: stepping one byte at a
        // time through a long run (zeros, say) that both alignments nearly share costs the
        // square of its length.
        if ((len == oldScore && len != 0) || len > oldScore + 8 || len >= kLongMatch) break;
        if (scan + lastOffset < oldSize_ && old_[scan + lastOffset] == new_[scan]) --oldScore;
      }
      if (len == oldScore && scan != newSize_) continue;

      // Extend the previous match forward and this one backward, as far as each matches at
      // least half its bytes, then split any overlap where the bytes favour one or the other.
      int64_t lenF = 0;
      for (int64_t i = 0, s = 0, best = 0; lastScan + i < scan && lastPos + i < oldSize_;) {
        if (old_[lastPos + i] == new_[lastScan + i]) ++s;
        ++i;
        if (s * 2 - i > best * 2 - lenF) {
          best = s;
          lenF = i;
        }
      }
      int64_t lenB = 0;
      if (scan < newSize_) {
        for (int64_t i = 1, s = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
          if (old_[pos - i] == new_[scan - i]) ++s;
          if (s * 2 - i > best * 2 - lenB) {
            best = s;
            lenB = i;
          }
        }
      }
      if (lastScan + lenF > scan - lenB) {
        const int64_t overlap = (lastScan + lenF) - (scan - lenB);
        int64_t s = 0, best = 0, lenS = 0;
        for (int64_t i = 0; i < overlap; ++i) {
          if (new_[lastScan + lenF - overlap + i] == old_[lastPos + lenF - overlap + i]) ++s;
          if (new_[scan - lenB + i] == old_[pos - lenB + i]) --s;
          if (s > best) {
            best = s;
            lenS = i + 1;
          }
        }
        lenF += lenS - overlap;
        lenB -= lenS;
      }
      Triple triple{lenF, (scan - lenB) - (lastScan + lenF), (pos - lenB) - (lastPos + lenF), lastScan, lastPos};
      if (triple.add == 0 && triple.copy == 0 && !triples.empty()) {
        triples.back().seek += triple.seek;  // a bare seek joins the one before it
      } else {
        triples.push_back(triple);
      }
      lastScan = scan - lenB;
      lastPos = pos - lenB;
      lastOffset = pos - scan;
    }
    return triples;
  }

 private:
  static constexpr int64_t kLongMatch = 4096;
  static constexpr int64_t kProgressStep = 256 * 1024;
  // About the share of the time the suffix array takes, before the walk.
  static constexpr double kSortShare = 0.4;
  const EncodeProgress& progress_;
  double first_, span_;

  // memcmp in pieces: the same order, but a build with the address sanitizer checks only the
  // pieces compared, not the whole rest of both files at every step of the search (which
  // made the encoder's tests take minutes there).
  static int CompareBytes(const uint8_t* a, const uint8_t* b, size_t size) {
    constexpr size_t kPiece = 4096;
    for (size_t done = 0; done < size; done += kPiece) {
      if (const int order = std::memcmp(a + done, b + done, std::min(kPiece, size - done))) return order;
    }
    return 0;
  }

  // A larger old file is indexed by blocks instead, as xdelta3 and zstd --long do: the
  // suffix array and its sorting take about 20 bytes a byte of the old file, the index 1.
  // Every kBlock-th position of the old file is filed under a hash of its next kKey bytes;
  // the walk tries each position of the new file, so a stretch the files share is found
  // within kBlock bytes of its start (the backward extension gives those bytes back). On
  // two builds of python3.11 (6.8 MB) that delta is 6 % larger than the suffix array's
  // (and 4 % smaller than bsdiff's), made in a tenth of the time and a quarter of the memory;
  // on systemd's changed programs (up to 1.6 MB), 5 % larger (and 0.56 times bsdiff's). The
  // suffix array stays for small files, where its memory is a few megabytes.
  static constexpr size_t kSuffixArrayLimit = 256u << 10;
  static constexpr int64_t kBlock = 4, kKey = 16;
  static constexpr int kWays = 2;

  static uint32_t KeyHash(const uint8_t* p, int shift) {
    uint64_t a, b;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    return uint32_t(((a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full)) >> shift);
  }

  void IndexBlocks() {
    size_t slots = 2;
    int bits = 1;
    while (slots * kWays < size_t(oldSize_ / kBlock)) slots <<= 1, ++bits;
    shift_ = 64 - bits;
    blocks_.assign(slots * kWays, -1);
    // Each hash keeps the first kWays blocks filed under it: a later equal block is no
    // better a match, and the walk takes the longest of those kept.
    for (int64_t at = 0; at + kKey <= oldSize_; at += kBlock) {
      int32_t* bucket = &blocks_[size_t(KeyHash(old_ + at, shift_)) * kWays];
      for (int way = 0; way < kWays; ++way) {
        if (bucket[way] < 0) {
          bucket[way] = int32_t(at);
          break;
        }
      }
    }
  }

  int64_t SearchBlocks(int64_t scan, int64_t& pos) const {
    if (newSize_ - scan < kKey) return 0;
    const int32_t* bucket = &blocks_[size_t(KeyHash(new_ + scan, shift_)) * kWays];
    int64_t best = 0;
    for (int way = 0; way < kWays && bucket[way] >= 0; ++way) {
      const int64_t length = MatchLength(old_ + bucket[way], oldSize_ - bucket[way], new_ + scan, newSize_ - scan);
      if (length > best) best = length, pos = bucket[way];
    }
    return best;
  }

  // The longest match of new_ from scan among the old suffixes: its length, and its start.
  int64_t Search(int64_t scan, int64_t& pos) const {
    if (oldSize_ == 0) return 0;
    if (sa_.empty()) return SearchBlocks(scan, pos);
    const uint8_t* target = new_ + scan;
    const int64_t targetSize = newSize_ - scan;
    int64_t lo = 0, hi = oldSize_ - 1;
    while (hi - lo >= 2) {
      const int64_t mid = lo + (hi - lo) / 2;
      const int64_t at = sa_[size_t(mid)];
      if (CompareBytes(old_ + at, target, size_t(std::min(oldSize_ - at, targetSize))) < 0) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    const int64_t x = MatchLength(old_ + sa_[size_t(lo)], oldSize_ - sa_[size_t(lo)], target, targetSize);
    const int64_t y = MatchLength(old_ + sa_[size_t(hi)], oldSize_ - sa_[size_t(hi)], target, targetSize);
    pos = x > y ? sa_[size_t(lo)] : sa_[size_t(hi)];
    return std::max(x, y);
  }

  const uint8_t* old_;
  int64_t oldSize_;
  const uint8_t* new_;
  int64_t newSize_;
  std::vector<int32_t> sa_;
  std::vector<int32_t> blocks_;
  int shift_ = 64;
};

// ---- Output: blocks of three deflated parts ----

std::string Deflate(const std::string& raw) {
  if (raw.empty()) return {};
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
  std::string packed(deflateBound(&z, uLong(raw.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  z.avail_in = uInt(raw.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = uInt(packed.size());
  const int result = deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return packed;
}

void Put32(std::string& out, uint64_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(char(value >> (8 * i)));
}

void PutVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(char((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out.push_back(char(value));
}

// The range encoder of a block's difference bytes (the decoder's mirror in delta_format.cpp).
class RangeEncoder {
 public:
  unsigned Bit(uint16_t& zero, unsigned bit) {
    used_ = true;
    const uint32_t bound = (range_ >> delta::kProbabilityBits) * zero;
    if (bit == 0) {
      range_ = bound;
      zero = uint16_t(zero + ((delta::kProbabilityOne - zero) >> delta::kAdaptShift));
    } else {
      low_ += bound;
      range_ -= bound;
      zero = uint16_t(zero - (zero >> delta::kAdaptShift));
    }
    while (range_ < delta::kRangeTop) {
      range_ <<= 8;
      ShiftLow();
    }
    return bit;
  }
  // What the output may come to once finished.
  size_t Bound() const { return out_.size() + size_t(pending_) + 5; }
  // The part: nothing when no bit was coded; then ready for the next block.
  std::string Finish() {
    std::string out;
    if (used_) {
      for (int i = 0; i < 5; ++i) ShiftLow();
      out.swap(out_);
    }
    *this = RangeEncoder();
    return out;
  }

 private:
  // Moves the top byte of low_ out, holding back bytes a later carry may still raise.
  void ShiftLow() {
    if (uint32_t(low_) < 0xFF000000u || (low_ >> 32) != 0) {
      const auto carry = uint8_t(low_ >> 32);
      uint8_t held = cache_;
      do {
        out_.push_back(char(uint8_t(held + carry)));
        held = 0xFF;
      } while (--pending_ != 0);
      cache_ = uint8_t(low_ >> 24);
    }
    ++pending_;
    low_ = (low_ & 0x00FFFFFF) << 8;
  }

  uint64_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFF;
  uint8_t cache_ = 0;
  uint64_t pending_ = 1;
  bool used_ = false;
  std::string out_;
};

// Where an add's differences stay 0 for at least this many bytes, the stretch is kept as it
// is (an entry's `same`) instead of coded: the decoder then copies it rather than decode a
// bit a byte. A shorter run costs the coder less than the entry costs the control part.
constexpr int64_t kSameRun = 1024;

// One control entry, with where its add starts in either file.
struct Entry {
  int64_t add = 0, same = 0, copy = 0, seek = 0;
  int64_t newStart = 0, oldStart = 0;
};

class BlockWriter {
 public:
  BlockWriter(const uint8_t* oldBytes, const uint8_t* newBytes, std::string& out)
      : old_(oldBytes), new_(newBytes), out_(out) {}

  // The triple as entries: its add cut around every long run of unchanged bytes, the copy
  // and the seek with the last piece.
  void Add(const Triple& t) {
    int64_t at = 0;
    for (;;) {
      int64_t runStart = t.add, runEnd = t.add;
      for (int64_t i = at, zeros = 0; i < t.add; ++i) {
        if (new_[t.newStart + i] != old_[t.oldStart + i]) {
          zeros = 0;
          continue;
        }
        if (++zeros < kSameRun) continue;
        runStart = i + 1 - zeros;
        for (runEnd = i + 1; runEnd < t.add && new_[t.newStart + runEnd] == old_[t.oldStart + runEnd];) ++runEnd;
        break;
      }
      const bool last = runEnd == t.add;
      Put({runStart - at, runEnd - runStart, last ? t.copy : 0, last ? t.seek : 0, t.newStart + at, t.oldStart + at});
      if (last) return;
      at = runEnd;
    }
  }

  void Flush() {
    // A block must give a result byte; a lone seek waits for the next one (or, at the very
    // end, goes: it would give nothing).
    if (gives_ == 0) return;
    const std::string parts[3] = {Deflate(control_), ranges_.Finish(), Deflate(extra_)};
    Put32(out_, control_.size());
    Put32(out_, parts[1].size());
    Put32(out_, extra_.size());
    for (const std::string& part : parts) Put32(out_, part.size());
    for (const std::string& part : parts) out_ += part;
    control_.clear();
    extra_.clear();
    gives_ = 0;
  }

 private:
  // Splits an entry where a block fills up: an add or a copy cut in two is the same add or
  // copy, and what follows goes with the last piece.
  void Put(Entry t) {
    for (;;) {
      if (control_.size() + 4 * delta::kMaxVarintBytes > delta::kMaxControlBytes) Flush();
      const int64_t added = PutDifferences(t);
      if (added < t.add) {
        PutControl({added, 0, 0, 0});
        t.add -= added;
        t.newStart += added;
        t.oldStart += added;
        Flush();
        continue;
      }
      const int64_t roomE = int64_t(delta::kMaxExtraBytes - extra_.size());
      const int64_t copyStart = t.newStart + t.add + t.same;
      if (t.copy > roomE) {
        PutControl({t.add, t.same, roomE, 0});
        extra_.append(reinterpret_cast<const char*>(new_ + copyStart), size_t(roomE));
        t.newStart = copyStart + roomE;
        t.oldStart += t.add + t.same;
        t.add = t.same = 0;
        t.copy -= roomE;
        Flush();
        continue;
      }
      PutControl(t);
      extra_.append(reinterpret_cast<const char*>(new_ + copyStart), size_t(t.copy));
      return;
    }
  }

  // The add's differences, as many as the block takes: how many.
  int64_t PutDifferences(const Entry& t) {
    for (int64_t i = 0; i < t.add; ++i) {
      // A byte codes 9 bits, each at most 11 bits of output (kProbabilityOne >> kAdaptShift).
      if (ranges_.Bound() + 16 > delta::kMaxDifferenceBytes) return i;
      const uint8_t source = old_[t.oldStart + i];
      model_->Code(ranges_, source, uint8_t(new_[t.newStart + i] - source));
    }
    return t.add;
  }

  void PutControl(const Entry& t) {
    if (t.add == 0 && t.same == 0 && t.copy == 0 && t.seek == 0) return;
    gives_ += t.add + t.same + t.copy;
    PutVarint(control_, uint64_t(t.add));
    PutVarint(control_, uint64_t(t.same));
    PutVarint(control_, uint64_t(t.copy));
    PutVarint(control_, (uint64_t(t.seek) << 1) ^ uint64_t(t.seek >> 63));
  }

  const uint8_t* old_;
  const uint8_t* new_;
  std::string& out_;
  std::string control_, extra_;
  RangeEncoder ranges_;
  // 130 KB: on the heap, not the tool's stack.
  std::unique_ptr<delta::DifferenceModel> model_ = std::make_unique<delta::DifferenceModel>();
  int64_t gives_ = 0;  // result bytes of the block's entries
};

uint32_t Crc32(std::string_view bytes) {
  uLong crc = crc32(0, nullptr, 0);
  while (!bytes.empty()) {
    const size_t take = std::min<size_t>(bytes.size(), 1u << 30);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), uInt(take));
    bytes.remove_prefix(take);
  }
  return uint32_t(crc);
}

// The delta of the bytes (filtered or not, as the header says).
std::string Encode(std::string_view oldBytes, std::string_view newBytes, const DeltaHeader& header,
                   const EncodeProgress& progress, double first, double span) {
  std::string out = DeltaHeaderBytes(header);
  const std::vector<Triple> triples = Matcher(oldBytes, newBytes, progress, first, span).Triples();
  BlockWriter blocks(reinterpret_cast<const uint8_t*>(oldBytes.data()),
                     reinterpret_cast<const uint8_t*>(newBytes.data()), out);
  for (const Triple& triple : triples) blocks.Add(triple);
  blocks.Flush();
  return out;
}

// The bytes filtered, in place.
void X86FilterInPlace(std::string& bytes) {
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  for (size_t at = 0; at < bytes.size(); at += delta::kFilterChunk) {
    X86Filter(data + at, std::min(delta::kFilterChunk, bytes.size() - at), at, true);
  }
}

// Whether the bytes look like machine code: a converted branch every KiB at least (x86
// code has one every few dozen bytes, random bytes one every 16 KiB). Counted chunk by
// chunk, so that no filtered copy is held while the plain delta is made.
bool LooksLikeCode(std::string_view bytes) {
  std::vector<unsigned char> chunk(delta::kFilterChunk);
  size_t converted = 0;
  for (size_t at = 0; at < bytes.size(); at += delta::kFilterChunk) {
    const size_t size = std::min(delta::kFilterChunk, bytes.size() - at);
    std::memcpy(chunk.data(), bytes.data() + at, size);
    converted += X86Filter(chunk.data(), size, at, true);
  }
  return converted > 0 && converted >= bytes.size() / 1024;
}

}  // namespace

std::vector<int32_t> SuffixArray(std::string_view bytes) {
  return SaIs(reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()), 255);
}

namespace {

// The delta; owned, when given, are the caller's strings holding the bytes, which the filter
// then converts in place (they are spent) instead of copying them: two copies fewer.
std::string Delta(std::string_view oldBytes, std::string_view newBytes, std::optional<uint32_t> filter,
                  const EncodeProgress& progress, std::string* ownedOld, std::string* ownedNew) {
  constexpr size_t kLimit = 0x7FFFFFFF;
  if (oldBytes.size() >= kLimit || newBytes.size() >= kLimit) {
    throw std::length_error("a delta is made of files under 2 GiB");
  }
  if (filter && filter != delta::kFilterNone && filter != delta::kFilterX86) {
    throw std::invalid_argument("no such delta filter");
  }
  const DeltaHeader header{oldBytes.size(), newBytes.size(), Crc32(oldBytes), Crc32(newBytes)};
  DeltaHeader filtered = header;
  filtered.filter = delta::kFilterX86;
  const auto done = [&progress](std::string delta) {
    if (progress) progress(1.0);
    return delta;
  };
  const auto encodeFiltered = [&](double first, double span) {
    if (ownedOld && ownedNew) {
      X86FilterInPlace(*ownedOld);
      X86FilterInPlace(*ownedNew);
      return Encode(*ownedOld, *ownedNew, filtered, progress, first, span);
    }
    std::string old(oldBytes), next(newBytes);
    X86FilterInPlace(old);
    X86FilterInPlace(next);
    return Encode(old, next, filtered, progress, first, span);
  };
  if (filter == delta::kFilterNone) return done(Encode(oldBytes, newBytes, header, progress, 0, 1));
  if (filter == delta::kFilterX86) return done(encodeFiltered(0, 1));
  // On machine code, the filter is worth what it saves (it may cost: where a small change
  // moved the code after it, calls between moved functions keep their displacements but not
  // their targets); elsewhere it is not tried, which halves the time. The filtered bytes
  // are made once the plain delta is made, which holds the old file's index meanwhile.
  const bool code = LooksLikeCode(oldBytes) && LooksLikeCode(newBytes);
  std::string plain = Encode(oldBytes, newBytes, header, progress, 0, code ? 0.5 : 1);
  if (!code) return done(std::move(plain));
  std::string withFilter = encodeFiltered(0.5, 0.5);
  return done(withFilter.size() < plain.size() ? std::move(withFilter) : std::move(plain));
}

}  // namespace

std::string EncodeDelta(std::string_view oldBytes, std::string_view newBytes, std::optional<uint32_t> filter,
                        const EncodeProgress& progress) {
  return Delta(oldBytes, newBytes, filter, progress, nullptr, nullptr);
}

std::string EncodeDelta(std::string&& oldBytes, std::string&& newBytes, std::optional<uint32_t> filter,
                        const EncodeProgress& progress) {
  return Delta(oldBytes, newBytes, filter, progress, &oldBytes, &newBytes);
}

}  // namespace varno::pack
