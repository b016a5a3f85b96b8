// The binary delta of a file: what turns the installed file (the source) into the new one
// (the result), and its decoder. The decoder runs in the elevated updater on bytes that come
// from a package, so it reads the delta strictly front to back, checks every length before
// it uses it, and holds at most about 4 MB whatever the files' sizes (the three parts of one
// block at their limits, a 1 MiB write buffer, a 1 MiB window over the source and 64 KiB
// of its filtered bytes, the difference model's 130 KB), each buffer sized to what the delta
// and the files need. It reads and filters each source byte about once for each entry that
// uses it, in whatever order the entries seek (the x86 filter below is applied to the bytes
// an entry uses alone, its scan taken up a few bytes before them), so a delta applies in
// about the time of a plain copy of the files.
//
// Format, version 3 (version 2 differs only in its control part, below, and is still read).
// Every integer is little-endian.
//
//   Header, 36 bytes:
//     0  4  magic "VDLT"
//     4  4  version, 3 (or 2)
//     8  8  source size (at most kMaxFileSize)
//    16  8  result size (at most kMaxFileSize)
//    24  4  CRC-32 (zlib's) of the whole source
//    28  4  CRC-32 of the whole result (the real one, unfiltered)
//    32  4  filter: 0 none, 1 x86 branches (below)
//   Then blocks, until they have given the result size; the delta ends with the last one
//   (nothing may follow it). An empty result has no block. A block:
//     0  4  control length C, unpacked (1..kMaxControlBytes)
//     4  4  difference length D, range coded (0..kMaxDifferenceBytes)
//     8  4  extra length E, unpacked (0..kMaxExtraBytes); version 2: D + E > 0
//    12  4  control length packed
//    16  4  difference length again (the part is stored as it is)
//    20  4  extra length packed
//    24     the three parts. The control and extra parts are each one zlib stream (deflate
//           with its Adler-32) of exactly its packed length that unpacks to exactly its
//           unpacked length; a part of unpacked length 0 has packed length 0 and no stream.
//           The difference part is D bytes of range code (below).
//   The control part is a run of entries (add, same, copy, seek), each four LEB128 varints of
//   at most 5 bytes (7 bits a byte, low bits first): add, same and copy plain, seek zigzag-
//   coded (0, -1, 1, -2, ... as 0, 1, 2, 3, ...); version 2 has triples (add, copy, seek),
//   read as entries whose same is 0. Starting at source position 0, an entry
//     - adds: the next `add` difference bytes, each added (mod 256) to the source byte at
//       the same offset from the source position, give the next `add` result bytes; the
//       source position moves past them;
//     - keeps: the next `same` source bytes are the next result bytes, as they are (the
//       difference model below neither codes nor sees them); the source position moves past
//       them. A long unchanged stretch is so a copy, not a coded bit a byte: the decoder
//       keeps up with the disk however large the files;
//     - copies: the next `copy` extra bytes are the next result bytes;
//     - seeks: the source position moves by `seek`.
//   The block's entries use exactly its E extra bytes, and its difference part to its last
//   byte (none when D = 0, which a block without add has), and give at least one result
//   byte.
//
//   The difference bytes are range coded bit by bit, each bit with an adaptive probability,
//   as most of them are 0 and the others, where code moved, are scattered bytes (a
//   displacement's low byte or two) whose place the source's bytes foretell and whose values
//   repeat: deflate packed them about 2.3 times larger. A probability is the chance of a 0,
//   in units of 2^-15 (kProbabilityOne = 2^15); after a 0 it grows by (2^15 - p) >> 4, after
//   a 1 it shrinks by p >> 4 (kAdaptShift). The coder's state is a 32-bit range and a 32-bit
//   code. A block's part starts with range = 2^32 - 1 and code = its first 5 bytes, big-
//   endian (code keeps its low 32 bits); a bit with probability p: bound = (range >> 15) * p;
//   if code < bound, the bit is 0 and range = bound; otherwise it is 1, code -= bound and
//   range -= bound; then while range < 2^24, range and code shift left by 8 and the part's
//   next byte enters code's low byte. (The encoder's output is exactly as long as that reads:
//   a decoder that would read past D refuses.) The model, kept from block to block over the
//   whole delta, starts with every probability at 1/2 but the "changed" ones at 31/32 (an
//   unchanged byte), and with previous source byte, last value and recent all 0. For each
//   difference byte, where the triple's add pairs it with source byte s:
//     - changed: one bit, probability "changed"[previous source byte * 4 + recent], 1 when
//       the byte is not 0;
//     - when 1, the byte's 8 bits, high bit first, each with probability
//       value[last value * 256 + node], node starting at 1 and becoming node * 2 + bit; the
//       byte (node's low 8 bits, which may be 0) is the last value;
//     - recent becomes (recent * 2 + changed) & 3, and the previous source byte s.
//
//   With the x86 branch filter, the triples work on the filtered source and give the
//   filtered result, which is unfiltered to give the real result. The filter makes code that
//   only moved give the same bytes: a call or jump's displacement, different wherever the
//   code or its target moved, becomes the target's address. Both files are cut into chunks of
//   kFilterChunk bytes from their start (the last one may be shorter), each filtered on its
//   own. In a chunk of n bytes at file offset F, from i = 0 while i < n:
//     - the operand is at o = i + 1 if byte i is E8 (call) or E9 (jmp), at o = i + 2 if byte
//       i is 0F and byte i + 1 is 80..8F (conditional jump); otherwise i moves by 1;
//     - if o + 4 > n, the chunk ends there;
//     - i moves to o + 4; if the operand's 4 bytes, a value v, have a top byte 00 or FF (a
//       displacement within 16 MiB), they become w = S(v + F + o + 4) (filtering) or
//       v = S(w - F - o - 4) (unfiltering), S keeping the low 25 bits of its argument
//       (modulo 2^32) and sign-extending bit 24; otherwise they stay.
//   A converted value again has a top byte 00 or FF and nothing else changes, so that the
//   reverse pass takes the same steps.
//
// A reader refuses the whole delta when: the magic or version differs; a size passes
// kMaxFileSize; the filter is unknown; the source's size is not the header's; a block field
// passes its limit, or the difference part's two lengths differ; a zlib part does not unpack
// to exactly its length from exactly its packed length (or fails its Adler-32); a triple is
// cut short or has a varint longer than 5 bytes; an entry uses more extra bytes than its
// block holds, or the adds would read past the difference part or leave some of it; a block
// gives no result byte; an add or a same reads outside the source, or a seek leaves the
// source position outside 0..source size; the
// blocks would give more than the result size, or the delta ends before they give all of
// it, or bytes follow the last block; the result's CRC-32 differs from the header's.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "platform/files.h"

namespace varno {

namespace delta {
inline constexpr char kMagic[4] = {'V', 'D', 'L', 'T'};
inline constexpr uint32_t kVersion = 3;
inline constexpr uint32_t kTripleVersion = 2;  // entries without `same`, still read
inline constexpr uint64_t kHeaderSize = 36;
inline constexpr uint32_t kFilterNone = 0;
inline constexpr uint32_t kFilterX86 = 1;
inline constexpr size_t kFilterChunk = 64 * 1024;
inline constexpr uint64_t kBlockHeaderSize = 24;
inline constexpr uint64_t kMaxFileSize = 0xFFFFFFFF;
inline constexpr uint32_t kMaxControlBytes = 256 * 1024;
inline constexpr uint32_t kMaxDifferenceBytes = 256 * 1024;
inline constexpr uint32_t kMaxExtraBytes = 1024 * 1024;
inline constexpr int kMaxVarintBytes = 5;

// The range coding of the difference bytes (see above), the encoder's and the decoder's.
inline constexpr int kProbabilityBits = 15;
inline constexpr uint16_t kProbabilityOne = 1 << kProbabilityBits;
inline constexpr int kAdaptShift = 4;
inline constexpr uint32_t kRangeTop = 1u << 24;

// The difference bytes' model. Code gives each bit to coder.Bit(probability, bit), which
// codes the bit (encoder) or returns the decoded one (decoder, which passes 0 for the byte).
struct DifferenceModel {
  DifferenceModel() { Reset(); }
  // As made: every delta starts from the same model.
  void Reset() {
    std::fill(std::begin(changed), std::end(changed), uint16_t(kProbabilityOne - kProbabilityOne / 32));
    std::fill(std::begin(value), std::end(value), uint16_t(kProbabilityOne / 2));
    previousSource = lastValue = recent = 0;
  }
  template <class Coder>
  uint8_t Code(Coder& coder, uint8_t sourceByte, uint8_t difference) {
    const unsigned isChanged = coder.Bit(changed[previousSource * 4 + recent], difference != 0);
    uint8_t coded = 0;
    if (isChanged) {
      unsigned node = 1;
      for (int bit = 7; bit >= 0; --bit) node = node * 2 + coder.Bit(value[lastValue * 256 + node], (difference >> bit) & 1);
      coded = uint8_t(node);
      lastValue = coded;
    }
    recent = uint8_t((recent << 1 | isChanged) & 3);
    previousSource = sourceByte;
    return coded;
  }

  uint16_t changed[256 * 4];
  uint16_t value[256 * 256];
  uint8_t previousSource = 0, lastValue = 0, recent = 0;
};
}  // namespace delta

struct DeltaHeader {
  uint64_t sourceSize = 0;
  uint64_t resultSize = 0;
  // Lets a caller check the installed file before anything is written; ApplyDelta itself
  // checks the result's.
  uint32_t sourceCrc32 = 0;
  uint32_t resultCrc32 = 0;
  uint32_t filter = delta::kFilterNone;
  uint32_t version = delta::kVersion;
};

// The x86 branch filter (forward) or its reverse on one chunk of at most
// delta::kFilterChunk bytes at file offset `offset`, in place: how many operands it converted.
size_t X86Filter(unsigned char* bytes, size_t size, uint64_t offset, bool forward);

// The header's 36 bytes, for the encoder.
std::string DeltaHeaderBytes(const DeltaHeader& header);

// Reads and checks the header at delta's current position (at most deltaSize bytes belong
// to the delta), and leaves the position past it: seek back before ApplyDelta, which reads
// the header again. Nothing when it is short, its magic or version differs, or a size
// passes the limit.
std::optional<DeltaHeader> ReadDeltaHeader(InputFile& delta, uint64_t deltaSize);

// Who checks the result against the header's CRC-32: the decoder, or a caller that checks a
// stronger digest of everything written (the CRC-32 pass would only cost time).
enum class ResultCheck { Crc32, ByCaller };

// Applies the delta read from delta's current position (deltaSize bytes, read once, front
// to back) to source (read with Seek/Read, never held whole), writing the result to out
// (Write only, in pieces of at most 1 MiB; the caller commits). The result is made in two
// buffers in turn, so each piece handed to out.Write stays as it is until the Write after
// it has returned: out may still be reading it on another thread meanwhile. Nothing on
// success; otherwise what is wrong, a short English phrase for logs and tools. On a refusal
// out holds part of a result and must not be committed.
std::optional<std::string> ApplyDelta(InputFile& delta, uint64_t deltaSize, InputFile& source, OutputFile& out,
                                      ResultCheck check = ResultCheck::Crc32);

// ApplyDelta for one delta after another with the same buffers: about 4 MB once grown,
// made and faulted in once for a package of many deltas instead of once for each file.
class DeltaApplier {
 public:
  DeltaApplier();
  ~DeltaApplier();
  DeltaApplier(const DeltaApplier&) = delete;
  DeltaApplier& operator=(const DeltaApplier&) = delete;
  std::optional<std::string> Apply(InputFile& delta, uint64_t deltaSize, InputFile& source, OutputFile& out,
                                   ResultCheck check = ResultCheck::Crc32);

 private:
  struct Buffers;
  std::unique_ptr<Buffers> buffers_;
};

}  // namespace varno
