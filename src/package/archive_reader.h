// Unpacking a package archive into a directory of the installation.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "steps/uninstall_record.h"

namespace varno {

// The copy buffer every member's bytes go through.
inline constexpr size_t kArchiveCopyBufferSize = 20000;

// Unpacks the archive into targetDir (a full path ending with "\"). The archive is checked
// whole first: one that cannot be read or is malformed in any way (see ReadArchiveLayout)
// shows "Fichier archive non reconnu !" and nothing is written or recorded.
//
// Then, member by member in archive order: when no file exists at targetDir + name and no
// line of the record equals that full path, the bare name is inserted at insertionIndex
// (one index for every member, so they end up in reverse order). The member is written to
// a temporary file beside its target and moved over it once complete. A member that cannot
// be written (missing directory, read-only or open file, full disk) is passed over in
// silence and its previous file, if any, stays whole; its name stays recorded.
void ExtractArchive(Platform& platform, const std::string& archivePath, const std::string& targetDir,
                    WriteLogList& record, size_t insertionIndex);

}  // namespace varno
