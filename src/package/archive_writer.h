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

// One member to put in an archive: its name, its size, and a way to read its bytes, opened
// only when the member is written, so members of any size stream through.
struct ArchiveSource {
  std::string name;
  uint64_t size = 0;
  std::function<std::unique_ptr<InputFile>()> open;
};

ArchiveSource MemberFromBytes(std::string name, std::string bytes);
// The file's size is taken now; nothing when the file cannot be opened.
std::optional<ArchiveSource> MemberFromFile(FileSystem& files, std::string name, const std::string& path);

// What makes these members impossible to archive (count, a name, the format's size limit),
// or nothing. Names pass the reader's own check (CheckMemberName).
std::optional<std::string> CheckArchiveSources(const std::vector<ArchiveSource>& members);

// Writes the archive through a replacement of the file at path, streaming each member.
// Gives the problem (the sources' check, a member that gives more or fewer bytes than its
// size, a write that fails) or nothing on success; on a problem the file is unchanged.
std::optional<std::string> WriteArchive(FileSystem& files, const std::string& path,
                                        const std::vector<ArchiveSource>& members, char leadByte = '#');

// The archive's bytes; throws std::invalid_argument with the problem.
std::string ArchiveBytes(const std::vector<ArchiveSource>& members, char leadByte = '#');

}  // namespace varno
