#include "steps/file_steps.h"

#include "platform/message_boxes.h"
#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "steps/archive_extraction.h"
#include "package/section_lookup.h"

namespace varno {
namespace {


// The description's lines, once the step knows the file exists.
std::vector<std::string> LoadDescription(FileSystem& files, const std::string& path) {
  return LoadDescriptionForStep(files, path).value_or(std::vector<std::string>{});
}

// Unpacks an archive; a member that cannot be replaced although its directory exists (a
// file in use, access refused, a full disk) ends the run, which is then taken back, rather
// than leaving the installation with that file of the old version.
void Unpack(Platform& platform, const std::string& archive, const std::string& targetDir, WriteLogList& record,
            size_t insertionIndex, const ArchiveRefused& onRefused) {
  const ArchiveOutcome outcome = ExtractArchive(platform, archive, targetDir, record, insertionIndex);
  if (outcome.refused && onRefused) onRefused(archive);
  if (const ArchiveOutcome::Member* member = outcome.FirstNotWritten()) {
    throw UpdateError(FormatText(text::kCannotCreateFile, {targetDir + member->name}));
  }
}

}  // namespace

void FileCopy(Platform& platform, const RunState& state, WriteLogList& record, const ArchiveRefused& onRefused) {
  const size_t position = record.EnsureSection(record::kSurFile, Placement::Top);
  const std::string archive = JoinPath(state.packageDir, text::kMainArchiveFileName);
  if (!platform.files.FileExists(archive)) return;
  Unpack(platform, archive, state.installDir + "\\", record, position + 1, onRefused);
}

void CreateNewDir(Platform& platform, const RunState& state, WriteLogList& record) {
  FileSystem& files = platform.files;
  if (!files.FileExists(state.packageDescriptionPath)) return;
  const auto section = FindSection(LoadDescription(files, state.packageDescriptionPath), kSubDirSection);
  if (!section || section->entries.empty()) return;

  const size_t position = record.EnsureSection(record::kSurDir, Placement::End);
  for (const std::string& line : section->entries) {
    if (line.empty()) continue;
    // Taken as written: one level per line, so a parent must come before its children.
    const std::string directory = JoinPath(state.installDir, line);
    if (files.DirectoryExists(directory) || !files.MakeDirectory(directory)) continue;
    record.RecordEntry(position, line);
  }
}

std::optional<SubDirArchive> SplitSubDirArchive(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  // The character after the colon is meant to be a blank and is dropped whatever it is.
  const std::string_view rest = line.substr(colon + 1);
  return SubDirArchive{TrimBlanks(line.substr(0, colon)), TrimBlanks(rest.substr(rest.empty() ? 0 : 1))};
}

std::optional<std::vector<SubDirArchive>> SubDirArchives(const std::vector<std::string>& lines) {
  const auto section = FindSection(lines, kInSubDirSection);
  if (!section) return std::nullopt;
  std::vector<SubDirArchive> archives;
  for (const std::string& line : section->entries) {
    // A line without a colon names no sub-directory; it is passed over like an empty one
    // rather than guessed at.
    auto entry = SplitSubDirArchive(line);
    if (entry && !entry->archiveName.empty()) archives.push_back(std::move(*entry));
  }
  return archives;
}

bool CopyInNewDir(Platform& platform, const RunState& state, WriteLogList& record, const ArchiveRefused& onRefused) {
  FileSystem& files = platform.files;
  if (!files.FileExists(state.packageDescriptionPath)) {
    ShowPlainMessage(platform, text::kFileMissing + state.packageDescriptionPath);
    return false;
  }
  const auto archives = SubDirArchives(LoadDescription(files, state.packageDescriptionPath));
  if (!archives) return false;

  // One insertion index for the whole section: a later line's members stand above an
  // earlier line's.
  const size_t insertionIndex = record.EnsureSection(record::kSurFileDir, Placement::End) + 1;
  for (const SubDirArchive& entry : *archives) {
    const std::string archive = JoinPath(state.packageDir, entry.archiveName);
    if (!files.FileExists(archive)) continue;
    Unpack(platform, archive, state.installDir + "\\" + entry.subDirectory + "\\", record, insertionIndex, onRefused);
  }
  return true;
}

}  // namespace varno
