// Compressing the members of an archive before it is written, where that pays.
#pragma once

#include <string>
#include <vector>

#include "host/progress.h"
#include "package/archive_writer.h"
#include "platform/files.h"

namespace varno::pack {

// Deflates each source (at level 6) and makes it a compressed member where that saves at
// least a tenth of its size; the others stay stored. paths[i] is the file of sources[i],
// read here through files, which must not count on the progress meter (the bytes read are
// advanced on it here, within the caller's Begin and End): the members are
// compressed two at a time where the build has threads, and the meter is counted from
// this thread only. The compressed streams wait in temporary files, deleted when the
// sources are; without threads (the Windows build), each stream is measured here and made
// again while the archive is written, which gives the same bytes. A member that cannot be
// read stays stored, so that the archive's writer reports it. False when interrupted.
bool CompressSources(FileSystem& files, std::vector<ArchiveSource>& sources, const std::vector<std::string>& paths,
                     Progress& progress);

}  // namespace varno::pack
