// Building package archives: for the tests, the benchmark and the package authors' tool.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace varno {

// One member to put in an archive: its name, its real size, and a way to read the bytes it
// is stored as, opened only when the member is written, so members of any size stream
// through. A stored member's bytes are its real bytes; a compressed one's are its zlib
// stream, of storedSize bytes (see member_compression.h).
struct ArchiveSource {
  std::string name;
  uint64_t size = 0;
  std::function<std::unique_ptr<InputFile>()> open;
  uint8_t method = 0;       // archive::kStored or archive::kDeflate
  uint64_t storedSize = 0;  // for a compressed member only

  uint64_t StoredSize() const { return method == 0 ? size : storedSize; }
};

ArchiveSource MemberFromBytes(std::string name, std::string bytes);
// The file's size is taken now; nothing when the file cannot be opened.
std::optional<ArchiveSource> MemberFromFile(FileSystem& files, std::string name, const std::string& path);

// What makes these members impossible to archive (count, a name, the format's size limit),
// or nothing. Names pass the reader's own check (CheckMemberName).
std::optional<std::string> CheckArchiveSources(const std::vector<ArchiveSource>& members);

// Writes the archive through a replacement of the file at path, streaming each member: an
// "SG1" archive when no member is compressed, "SG2" otherwise (archive_layout.h).
// Gives the problem (the sources' check, a member that gives more or fewer bytes than its
// stored size, a write that fails) or nothing on success; on a problem the file is unchanged.
std::optional<std::string> WriteArchive(FileSystem& files, const std::string& path,
                                        const std::vector<ArchiveSource>& members, char leadByte = '#');

// The archive's bytes; throws std::invalid_argument with the problem.
std::string ArchiveBytes(const std::vector<ArchiveSource>& members, char leadByte = '#');

}  // namespace varno
