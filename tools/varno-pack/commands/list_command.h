// varno-pack list: the members of an archive as the updater's reader sees them.
#pragma once

#include <optional>
#include <string>

#include "checks/report.h"
#include "package/archive_layout.h"
#include "platform/files.h"

namespace varno::pack {

struct ArchiveListing {
  bool opened = false;
  uint64_t fileSize = 0;
  ArchiveCheck check;
  std::optional<unsigned char> leadByte;  // none without members: the table may be empty
};

// Reads the layout with the updater's whole-layout check; a malformed archive is reported
// with the reader's reason (the field and its offset).
ArchiveListing ListArchive(FileSystem& files, const std::string& path, const std::string& shown, Report& report);

Json ListJson(const std::string& shown, const ArchiveListing& listing, const Report& report);
void PrintListing(const std::string& shown, const ArchiveListing& listing);

}  // namespace varno::pack
