// SHA-256 computed by this program itself, for the identity of files: the installed file a
// binary delta applies to and the file it makes. It decides nothing about trust (that is the
// package signature's, which the system's cryptography checks), so the updater, the tool
// and the tests all compute the same digest on every platform without asking the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto.h"
#include "platform/files.h"

namespace varno {

// Fastest uses the processor's SHA instructions where it has them; Plain never does (for
// the tests, which check both give the same digests).
enum class Sha256Code { Fastest, Plain };
std::unique_ptr<Sha256> StartPortableSha256(Sha256Code code = Sha256Code::Fastest);

// The 64 lowercase hexadecimal digits of a digest's 32 bytes.
std::string HexDigest(std::string_view digest);

// The digest of a file read from its start to its end (a file just opened), as HexDigest
// gives it; nothing when it cannot be read whole.
std::optional<std::string> FileSha256Hex(FileSystem& files, const std::string& path);
std::optional<std::string> InputSha256Hex(InputFile& file);
std::string BytesSha256Hex(std::string_view bytes);

}  // namespace varno
