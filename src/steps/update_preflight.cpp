#include "steps/update_preflight.h"

#include <set>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/windows_path.h"
#include "package/archive_layout.h"
#include "package/section_lookup.h"
#include "steps/delete_step.h"
#include "steps/file_steps.h"

namespace varno {
namespace {

// The directories "[subdir]" makes before the sub-directory archives are unpacked.
using MadeDirectories = std::set<std::string>;

bool WillExist(FileSystem& files, const MadeDirectories& made, const std::string& directory) {
  return files.DirectoryExists(directory) || made.count(AnsiUpperCase(WithoutTrailingBackslash(directory))) > 0;
}

void PlanArchive(FileSystem& files, const MadeDirectories& made, const std::string& archive,
                 const std::string& targetDir, PlannedWrites& writes) {
  if (!files.FileExists(archive)) return;
  const ArchiveCheck check = CheckArchiveFile(files, archive);
  if (!check.Valid()) return;
  for (const ArchiveMember& member : check.layout.members) {
    const std::string target = JoinPath(targetDir, member.name);
    if (!WillExist(files, made, ParentOf(target))) continue;
    writes.bytes += member.size;
    if (files.FileExists(target)) writes.replaced.push_back(target);
  }
}

}  // namespace

PlannedWrites PlanArchiveWrites(FileSystem& files, const RunState& state) {
  PlannedWrites writes;
  const auto lines = LoadPackageDescription(files, state.packageDescriptionPath);
  MadeDirectories made;
  if (const auto subdirs = lines ? FindSection(*lines, kSubDirSection) : std::nullopt) {
    for (const std::string& line : subdirs->entries) {
      if (!line.empty()) made.insert(AnsiUpperCase(WithoutTrailingBackslash(JoinPath(state.installDir, line))));
    }
  }
  PlanArchive(files, made, JoinPath(state.packageDir, text::kMainArchiveFileName), state.installDir, writes);
  const auto archives = lines ? SubDirArchives(*lines) : std::nullopt;
  for (const SubDirArchive& entry : archives.value_or(std::vector<SubDirArchive>{})) {
    PlanArchive(files, made, JoinPath(state.packageDir, entry.archiveName),
                JoinPath(state.installDir, entry.subDirectory), writes);
  }
  // A file the package removes is replaced by nothing: one held open is asked about too.
  const auto deletions = lines ? FindSection(*lines, kDeleteSection) : std::nullopt;
  for (const std::string& line : deletions ? deletions->entries : std::vector<std::string>{}) {
    const std::string path = DeletePathOf(line);
    if (path.empty() || CheckDeletePath(path)) continue;
    if (files.FileExists(JoinPath(state.installDir, path))) writes.replaced.push_back(JoinPath(state.installDir, path));
  }
  return writes;
}

std::vector<std::string> FilesInUse(FileSystem& files, const PlannedWrites& writes) {
  std::vector<std::string> inUse;
  for (const std::string& path : writes.replaced) {
    if (!files.CanReplace(path)) inUse.push_back(path);
  }
  return inUse;
}

}  // namespace varno
