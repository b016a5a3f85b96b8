// varno-pack extract: unpacks an archive with the updater's own extractor, so that what
// lands in the directory is what an update would leave there.
#pragma once

#include <string>
#include <vector>

#include "checks/report.h"
#include "host/progress.h"
#include "platform/files.h"

namespace varno::pack {

struct ExtractRequest {
  std::string archive;  // Windows paths
  std::string directory;
  std::string archiveShown;  // as the user gave them
  std::string directoryShown;
  // The updater makes no directory for a member's sub-path; with this the tool makes them
  // first, so that the whole archive can be looked at.
  bool makeDirectories = false;
};

enum class MemberOutcome { New, Replaced, NotWritten };

struct ExtractResult {
  struct Member {
    std::string name;
    uint32_t size = 0;
    MemberOutcome outcome = MemberOutcome::NotWritten;
  };
  std::vector<Member> members;
  bool unpacked = false;
};

// The archive is checked whole before anything is made: a malformed one is refused with
// the reader's reason and leaves nothing behind, not even the directory. A member the
// extractor passes over (its directory missing, its file read-only or in use) is a warning.
ExtractResult ExtractArchiveTo(FileSystem& files, const ExtractRequest& request, Progress& progress, Report& report);

Json ExtractJson(const ExtractRequest& request, const ExtractResult& result, const Report& report);
void PrintExtracted(const ExtractResult& result);

}  // namespace varno::pack
