// Reading one archive member's real bytes, inflating a compressed one as it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/archive_layout.h"
#include "platform/files.h"

namespace varno {

// The archive is read in blocks of this size: each read costs a call into the system, and
// far more than its copy under Wine.
inline constexpr size_t kMemberInputBlockSize = 1u << 20;

// Gives a member's real bytes in the caller's chunks, with bounded memory (one input block
// and zlib's fixed window), however large the member. A stored member is copied as it
// stands. A compressed member must inflate to exactly its real size, its zlib stream must
// be sound (Adler-32 included) and end exactly at its stored size: anything else is a
// problem, found at the latest by the Read that gives 0 after the last byte.
class MemberStream {
 public:
  // The archive is the one the member was read from; the stream seeks in it, so nothing
  // else may read it until the stream is done.
  MemberStream(InputFile& archive, const ArchiveMember& member);
  ~MemberStream();
  MemberStream(const MemberStream&) = delete;
  MemberStream& operator=(const MemberStream&) = delete;

  // Up to capacity real bytes into buffer (capacity > 0); 0 once the member ended or on a
  // problem, so that a caller reads until 0 and then asks Complete().
  size_t Read(char* buffer, size_t capacity);

  // True once every real byte was given and the member was found sound.
  bool Complete() const { return complete_; }

  // What is wrong with the member, or nothing (so far).
  const std::optional<std::string>& Problem() const { return problem_; }

 private:
  size_t ReadStored(char* buffer, size_t capacity);
  size_t Inflate(char* buffer, size_t capacity);
  bool Fill();  // the next input block; false when the stored bytes are used up or unreadable
  size_t Fail(std::string problem);

  InputFile& archive_;
  const ArchiveMember member_;
  struct Inflater;
  std::unique_ptr<Inflater> inflater_;
  std::vector<char> input_;
  uint64_t storedRead_ = 0;  // stored bytes read from the archive
  uint64_t given_ = 0;       // real bytes given to the caller
  bool started_ = false;
  bool ended_ = false;  // the zlib stream ended
  bool complete_ = false;
  std::optional<std::string> problem_;
};

// Reads the member whole and tells what is wrong with it, or nothing: for checks that do
// not unpack.
std::optional<std::string> CheckMemberBytes(InputFile& archive, const ArchiveMember& member);

}  // namespace varno
