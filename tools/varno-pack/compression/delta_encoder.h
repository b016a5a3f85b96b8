// compression/: members made smaller: binary deltas against the previous release, and deflated members where it pays.
// The encoder of binary deltas (format in src/package/delta_format.h), by Colin Percival's
// method of approximate matches. A suffix array of the old file (up to 256 KiB; beyond, an
// index of its 16-byte blocks, so that memory stays about 6 times the larger file) finds,
// for each stretch of the new file, the old stretch it resembles most; the new file is then told as "add" runs
// (old bytes plus byte-wise differences, mostly zeros where code moved and its addresses
// shifted, which pack tightly), "copy" runs of new bytes, and seeks between them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varno::pack {

// The delta that turns oldBytes into newBytes (whole files in memory: the tool's side
// only), with the given filter (delta::kFilterNone or kFilterX86), or by default the smaller
// of the two when both files look like x86 code. The same inputs give the same bytes.
// Throws std::length_error for a file of 2 GiB or more. progress, when given, is told the
// share of the work done (0 to 1) as the matching walks the new file.
using EncodeProgress = std::function<void(double done)>;
std::string EncodeDelta(std::string_view oldBytes, std::string_view newBytes,
                        std::optional<uint32_t> filter = std::nullopt, const EncodeProgress& progress = {});
// The same delta from bytes the caller gives up: the filter converts them in place rather
// than in copies, so the encoder holds about 3 times the larger file instead of 5.
std::string EncodeDelta(std::string&& oldBytes, std::string&& newBytes,
                        std::optional<uint32_t> filter = std::nullopt, const EncodeProgress& progress = {});

// The suffix array of the bytes (SA-IS, linear time): the start of every suffix, in the
// suffixes' lexicographic order.
std::vector<int32_t> SuffixArray(std::string_view bytes);

}  // namespace varno::pack
