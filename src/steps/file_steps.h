// The file and directory steps of the update: the main archive into the installation, the
// new directories, and the archives of sub-directories. Each records what it newly created.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

#include "base/run_state.h"
#include "platform/platform.h"
#include "steps/uninstall_record.h"

namespace varno {

// Told of an archive refused as a whole (after its box), with the archive's path. It may
// raise to end the run there; otherwise the run goes on without that archive.
using ArchiveRefused = std::function<void(const std::string& archivePath)>;

// Places "[SurFile]" at the top of the record (at every run), then unpacks "sor_ti1.slp"
// of the package directory into the installation directory when that archive exists. A
// member whose file cannot be replaced raises "Impossible de créer le fichier %s".
void FileCopy(Platform& platform, const RunState& state, WriteLogList& record,
              const ArchiveRefused& onRefused = nullptr);

// Creates the directories listed under "[subdir]", one level per line, in file order, and
// records under "[SurDir]" each line whose directory it created. A missing description or
// section, an existing directory and a failed creation are passed over in silence.
void CreateNewDir(Platform& platform, const RunState& state, WriteLogList& record);

// Unpacks the archives listed under "[insubdir]" ("Images : pics.slp") into their
// sub-directories of the installation, recording their new members under "[SurFileDir]".
// True when the description has that section, whatever came of it. A description that has
// disappeared shows "fichier manquant : " and its path.
bool CopyInNewDir(Platform& platform, const RunState& state, WriteLogList& record,
                  const ArchiveRefused& onRefused = nullptr);

// One "[insubdir]" line split into the sub-directory and the archive name: the text before
// the first ":" trimmed, and after it, the first character dropped whatever it is and the
// rest trimmed. Nothing for a line without ":".
// The section whose lines name the directories to make, one level a line.
inline constexpr char kSubDirSection[] = "[subdir]";
// The section whose lines name an archive for a sub-directory ("Images : pics.slp").
inline constexpr char kInSubDirSection[] = "[insubdir]";

struct SubDirArchive {
  std::string subDirectory;
  std::string archiveName;
};
std::optional<SubDirArchive> SplitSubDirArchive(std::string_view line);

// The "[insubdir]" lines of the description that name an archive, split, in file order;
// nothing when the description has no such section.
std::optional<std::vector<SubDirArchive>> SubDirArchives(const std::vector<std::string>& lines);

}  // namespace varno
