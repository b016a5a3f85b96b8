// The binary delta of a file: what turns the installed file (the source) into the new one
// (the result), and its decoder. The decoder runs in the elevated updater on bytes that come
// from a package, so it reads the delta strictly front to back, checks every length before
// it uses it, and holds at most about 3.6 MB whatever the files' sizes (the three parts of
// one block at their limits, a 1 MiB write buffer, a 256 KiB window over the source).
//
// Format, version 2. Every integer is little-endian.
//
//   Header, 36 bytes:
//     0  4  magic "VDLT"
//     4  4  version, 2
//     8  8  source size (at most kMaxFileSize)
//    16  8  result size (at most kMaxFileSize)
//    24  4  CRC-32 (zlib's) of the whole source
//    28  4  CRC-32 of the whole result (the real one, unfiltered)
//    32  4  filter: 0 none, 1 x86 branches (below)
//   Then blocks, until they have given the result size; the delta ends with the last one
//   (nothing may follow it). An empty result has no block. A block:
//     0  4  control length C, unpacked (1..kMaxControlBytes)
//     4  4  difference length D, unpacked, runs coded (0..kMaxDifferenceBytes)
//     8  4  extra length E, unpacked (0..kMaxExtraBytes); D + E > 0
//    12  4  control length packed
//    16  4  difference length packed
//    20  4  extra length packed
//    24     the three parts, each one zlib stream (deflate with its Adler-32) of exactly its
//           packed length that unpacks to exactly its unpacked length; a part of unpacked
//           length 0 has packed length 0 and no stream.
//   The control part is a run of triples (add, copy, seek), each three LEB128 varints of at
//   most 5 bytes (7 bits a byte, low bits first): add and copy plain, seek zigzag-coded
//   (0, -1, 1, -2, ... as 0, 1, 2, 3, ...). Starting at source position 0, a triple
//     - adds: the next `add` difference bytes, each added (mod 256) to the source byte at
//       the same offset from the source position, give the next `add` result bytes; the
//       source position moves past them;
//     - copies: the next `copy` extra bytes are the next result bytes;
//     - seeks: the source position moves by `seek`.
//   The difference part is coded in runs, as long runs of zeros (bytes that did not change)
//   are most of it and deflate alone packs them at best about 1000 to 1: pairs of varints
//   (zeros, literals), not both 0, each followed by `literals` bytes, stand for `zeros`
//   zero bytes then those bytes. A run may span triples. The block's triples use exactly
//   its runs and its E extra bytes.
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
// kMaxFileSize; the filter is unknown; the source's size is not the header's; a block field passes its limit; a
// part does not unpack to exactly its length from exactly its packed length (or fails its
// Adler-32); a triple or a run is cut short or has a varint longer than 5 bytes; a run is
// (0, 0); a triple uses more difference or extra bytes than its block holds; an add reads
// outside the source, or a seek leaves the source position outside 0..source size; the
// blocks would give more than the result size, or the delta ends before they give all of
// it, or bytes follow the last block; the result's CRC-32 differs from the header's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/files.h"

namespace varno {

namespace delta {
inline constexpr char kMagic[4] = {'V', 'D', 'L', 'T'};
inline constexpr uint32_t kVersion = 2;
inline constexpr uint64_t kHeaderSize = 36;
inline constexpr uint32_t kFilterNone = 0;
inline constexpr uint32_t kFilterX86 = 1;
inline constexpr size_t kFilterChunk = 64 * 1024;
inline constexpr uint64_t kBlockHeaderSize = 24;
inline constexpr uint64_t kMaxFileSize = 0xFFFFFFFF;
inline constexpr uint32_t kMaxControlBytes = 256 * 1024;
inline constexpr uint32_t kMaxDifferenceBytes = 1024 * 1024;
inline constexpr uint32_t kMaxExtraBytes = 1024 * 1024;
inline constexpr int kMaxVarintBytes = 5;
}  // namespace delta

struct DeltaHeader {
  uint64_t sourceSize = 0;
  uint64_t resultSize = 0;
  // Lets a caller check the installed file before anything is written; ApplyDelta itself
  // checks the result's.
  uint32_t sourceCrc32 = 0;
  uint32_t resultCrc32 = 0;
  uint32_t filter = delta::kFilterNone;
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

// Applies the delta read from delta's current position (deltaSize bytes, read once, front
// to back) to source (read with Seek/Read, never held whole), writing the result to out
// (Write only, through a 1 MiB buffer; the caller commits). Nothing on success; otherwise
// what is wrong, a short English phrase for logs and tools. On a refusal out holds part of
// a result and must not be committed.
std::optional<std::string> ApplyDelta(InputFile& delta, uint64_t deltaSize, InputFile& source, OutputFile& out);

}  // namespace varno
