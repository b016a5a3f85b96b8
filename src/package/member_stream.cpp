#include "package/member_stream.h"

#include <zlib.h>

#include <algorithm>

namespace varno {

struct MemberStream::Inflater {
  z_stream z{};
  bool open = false;
  ~Inflater() {
    if (open) inflateEnd(&z);
  }
};

MemberStream::MemberStream(InputFile& archive, const ArchiveMember& member) : archive_(archive), member_(member) {}

MemberStream::~MemberStream() = default;

size_t MemberStream::Fail(std::string problem) {
  if (!problem_) problem_ = std::move(problem);
  return 0;
}

size_t MemberStream::Read(char* buffer, size_t capacity) {
  if (complete_ || problem_) return 0;
  if (!started_) {
    started_ = true;
    if (!archive_.Seek(member_.offset)) return Fail("its bytes at offset " + std::to_string(member_.offset) + " cannot be read");
    if (member_.method == archive::kDeflate) {
      inflater_ = std::make_unique<Inflater>();
      if (inflateInit(&inflater_->z) != Z_OK) return Fail("the inflater cannot be set up (no memory)");
      inflater_->open = true;
      input_.resize(kMemberInputBlockSize);
    } else if (member_.method != archive::kStored) {
      return Fail("its method " + std::to_string(member_.method) + " is unknown");
    }
  }
  return member_.method == archive::kDeflate ? Inflate(buffer, capacity) : ReadStored(buffer, capacity);
}

size_t MemberStream::ReadStored(char* buffer, size_t capacity) {
  const uint64_t remaining = member_.size - given_;
  if (remaining == 0) {
    complete_ = true;
    return 0;
  }
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(capacity, remaining));
  const size_t read = archive_.Read(buffer, wanted);
  if (read == 0) {
    return Fail("its bytes end after " + std::to_string(given_) + " of its " + std::to_string(member_.size) +
                " (the archive cannot be read further)");
  }
  given_ += read;
  return read;
}

bool MemberStream::Fill() {
  if (storedRead_ >= member_.storedSize) return false;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(input_.size(), member_.storedSize - storedRead_));
  size_t filled = 0;
  while (filled < wanted) {
    const size_t read = archive_.Read(input_.data() + filled, wanted - filled);
    if (read == 0) break;
    filled += read;
  }
  storedRead_ += filled;
  inflater_->z.next_in = reinterpret_cast<Bytef*>(input_.data());
  inflater_->z.avail_in = static_cast<uInt>(filled);
  return filled > 0;
}

size_t MemberStream::Inflate(char* buffer, size_t capacity) {
  z_stream& z = inflater_->z;
  const uint64_t remaining = member_.size - given_;
  // Past the real size, one more byte is asked for: the stream must end without giving it.
  char scratch = 0;
  const bool confirming = remaining == 0;
  z.next_out = reinterpret_cast<Bytef*>(confirming ? &scratch : buffer);
  z.avail_out = confirming ? 1u : static_cast<uInt>(std::min<uint64_t>({capacity, remaining, uint64_t{1} << 30}));
  const uInt offered = z.avail_out;
  while (z.avail_out > 0 && !ended_) {
    if (z.avail_in == 0 && !Fill()) {
      return Fail(storedRead_ >= member_.storedSize
                      ? "its zlib stream goes on past its " + std::to_string(member_.storedSize) + " stored bytes"
                      : "its stored bytes cannot be read past " + std::to_string(storedRead_));
    }
    const int status = inflate(&z, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      ended_ = true;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      return Fail(std::string("its compressed bytes are corrupt (") + (z.msg ? z.msg : "zlib error") + ")");
    }
  }
  const size_t produced = offered - z.avail_out;
  if (confirming && produced > 0) {
    return Fail("it inflates to more than its real size of " + std::to_string(member_.size) + " bytes");
  }
  given_ += produced;
  if (ended_) {
    if (given_ < member_.size) {
      return Fail("it inflates to " + std::to_string(given_) + " bytes, fewer than its real size of " +
                  std::to_string(member_.size));
    }
    if (z.avail_in > 0 || storedRead_ < member_.storedSize) {
      return Fail("its zlib stream ends before its " + std::to_string(member_.storedSize) + " stored bytes do");
    }
    if (confirming) complete_ = true;
  }
  return confirming ? 0 : produced;
}

std::optional<std::string> CheckMemberBytes(InputFile& archive, const ArchiveMember& member) {
  MemberStream stream(archive, member);
  std::vector<char> buffer(kMemberInputBlockSize);
  while (stream.Read(buffer.data(), buffer.size()) > 0) {
  }
  if (stream.Problem()) return stream.Problem();
  if (!stream.Complete()) return "it cannot be read whole";
  return std::nullopt;
}

}  // namespace varno
