// What zlib itself makes of a compressed archive member: the oracle the decoder's own reading
// is checked against.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <zlib.h>

#include "package/archive_layout.h"

// The member's real bytes when its stored bytes are one whole zlib stream, nothing after it,
// that inflates to exactly its real size; nothing otherwise.
inline std::optional<std::string> Inflated(const std::string& bytes, const varno::ArchiveMember& member) {
  // Deflate cannot expand more than 1032 times, so a larger real size is never reached (and
  // is not allocated).
  if (member.size > 1032 * uint64_t{member.storedSize} + 64) return std::nullopt;
  std::string inflated(member.size + 1, '\0');
  uLongf produced = inflated.size();
  uLong consumed = member.storedSize;
  const int status = uncompress2(reinterpret_cast<Bytef*>(inflated.data()), &produced,
                                 reinterpret_cast<const Bytef*>(bytes.data() + member.offset), &consumed);
  if (status != Z_OK || consumed != member.storedSize || produced != member.size) return std::nullopt;
  inflated.resize(produced);
  return inflated;
}
