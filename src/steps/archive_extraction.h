// Unpacking a package archive into a directory of the installation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "steps/uninstall_record.h"

namespace varno {

// The copy buffer every member's bytes go through. Each chunk costs a call into the system
// on either side (far more than its copy under Wine) and a turn of the window, which stays
// well within its tenth of a second at this size; a chunk this large is read and written
// by the Win32 files straight from and into it, without a copy through their own blocks.
inline constexpr size_t kArchiveCopyBufferSize = 1u << 20;

// What became of one member.
enum class MemberResult {
  Written,      // its bytes are in the file's place
  NoDirectory,  // the directory its name points into does not exist: passed over
  NotWritten,   // the file could not be replaced (in use, read-only, a full disk)
};

struct ArchiveOutcome {
  struct Member {
    std::string name;
    uint32_t size = 0;
    MemberResult result = MemberResult::NotWritten;
  };
  // The archive could not be read or is malformed: nothing was written or recorded.
  bool refused = false;
  std::vector<Member> members;

  // The first member that could not be replaced although its directory exists; nothing when
  // there is none.
  const Member* FirstNotWritten() const;
};

// Unpacks the archive into targetDir (a full path ending with "\"). The archive is checked
// whole first: one that cannot be read or is malformed in any way (see ReadArchiveLayout)
// shows "Fichier archive non reconnu !" and nothing is written or recorded.
//
// Then, member by member in archive order: when no file exists at targetDir + name and no
// line of the record equals that full path, the bare name is inserted at insertionIndex
// (one index for every member, so they end up in reverse order). The member is written to
// a temporary file beside its target and moved over it once complete; a compressed member
// is inflated on the way, and one that does not inflate to exactly its real size counts as
// a member that cannot be written. A member that cannot be written keeps its previous file
// whole and its name recorded; the outcome says which members those are, and whether their
// directory was missing, so that the caller decides.
ArchiveOutcome ExtractArchive(Platform& platform, const std::string& archivePath, const std::string& targetDir,
                              WriteLogList& record, size_t insertionIndex);

}  // namespace varno
