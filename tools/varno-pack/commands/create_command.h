// varno-pack create: builds a package archive with the updater's own writer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "checks/report.h"
#include "host/progress.h"
#include "platform/files.h"

namespace varno::pack {

// One member as the user gave it: "PATH", named by that path as written, or "NAME=PATH".
// A "/" in the name becomes "\", the separator the updater joins with; a leading "./" of a
// bare path goes, as it names nothing.
struct MemberArgument {
  std::string name;
  std::string path;  // as given, relative to the base directory when not absolute
};
MemberArgument ParseMemberArgument(std::string_view argument);

struct CreateMember {
  std::string name;      // the member's name in the archive
  std::string path;      // the Windows path of its source file
  std::string argument;  // as the user gave it, for messages
};

struct CreateRequest {
  std::string archive;       // Windows path
  std::string archiveShown;  // as the user gave it
  std::vector<CreateMember> members;
  bool compress = true;  // deflate the members where that saves a tenth (--no-compress: none)
};

struct CreateResult {
  struct Member {
    std::string name;
    uint64_t size = 0;
    std::string argument;
    uint64_t storedSize = 0;  // in the archive, once written
  };
  std::vector<Member> members;
  uint64_t archiveSize = 0;
  bool written = false;
};

// Refuses what the updater would refuse (a name, the count, the format's size limit) and
// sources that cannot be read, before anything is written; on any refusal or failure the
// file at the archive's path is left as it was and nothing else is left behind.
CreateResult CreateArchive(FileSystem& files, const CreateRequest& request, Progress& progress, Report& report);

Json CreateJson(const CreateRequest& request, const CreateResult& result, const Report& report);
void PrintCreated(const CreateRequest& request, const CreateResult& result);

// The lead byte of the name table that the tool writes. The updater never looks at it.
inline constexpr char kLeadByte = '#';

}  // namespace varno::pack
