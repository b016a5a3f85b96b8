// The binary delta of a file: what turns the installed file (the source) into the new one
// (the result), and its decoder. The decoder runs in the elevated updater on bytes that come
// from a package, so it reads the delta strictly front to back, checks every length before
// it uses it, and holds at most about 3.6 MB whatever the files' sizes (the three parts of
// one block at their limits, a 1 MiB write buffer, a 256 KiB window over the source).
//
// Format, version 1. Every integer is little-endian.
//
//   Header, 32 bytes:
//     0  4  magic "VDLT"
//     4  4  version, 1
//     8  8  source size (at most kMaxFileSize)
//    16  8  result size (at most kMaxFileSize)
//    24  4  CRC-32 (zlib's) of the whole source
//    28  4  CRC-32 of the whole result
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
// A reader refuses the whole delta when: the magic or version differs; a size passes
// kMaxFileSize; the source's size is not the header's; a block field passes its limit; a
// part does not unpack to exactly its length from exactly its packed length (or fails its
// Adler-32); a triple or a run is cut short or has a varint longer than 5 bytes; a run is
// (0, 0); a triple uses more difference or extra bytes than its block holds; an add reads
// outside the source, or a seek leaves the source position outside 0..source size; the
// blocks would give more than the result size, or the delta ends before they give all of
// it, or bytes follow the last block; the result's CRC-32 differs from the header's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/files.h"

namespace varno {

namespace delta {
inline constexpr char kMagic[4] = {'V', 'D', 'L', 'T'};
inline constexpr uint32_t kVersion = 1;
inline constexpr uint64_t kHeaderSize = 32;
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
};

// The header's 32 bytes, for the encoder.
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
