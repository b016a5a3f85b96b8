#include "checks/delta_checks.h"

#include <algorithm>
#include <cstddef>
#include <map>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/windows_path.h"
#include "checks/description_checks.h"
#include "package/archive_layout.h"
#include "package/delta_format.h"
#include "platform/portable_sha256.h"
#include "steps/delta_step.h"

namespace varno::pack {
namespace {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// An archive's members by upper-case name, or why it cannot be read.
struct ReadArchive {
  bool present = false;
  ArchiveCheck check;
  std::map<std::string, const ArchiveMember*> byName;
};

ReadArchive Read(FileSystem& files, const std::string& path) {
  ReadArchive read;
  read.present = files.FileExists(path);
  if (!read.present) return read;
  read.check = CheckArchiveFile(files, path);
  for (const ArchiveMember& member : read.check.layout.members) read.byName[AnsiUpperCase(member.name)] = &member;
  return read;
}

const ArchiveMember* Find(const ReadArchive& archive, const std::string& name) {
  const auto found = archive.byName.find(AnsiUpperCase(name));
  return found == archive.byName.end() ? nullptr : found->second;
}

}  // namespace

DeltaCheck CheckDeltas(FileSystem& files, const std::string& packageDir, const std::vector<std::string>& lines,
                       const std::string& againstDir, const std::string& againstShown, Report& report) {
  DeltaCheck result;
  const auto section = Locate(lines, kDeltaSection);
  if (!section) return result;
  const ReadArchive deltas = Read(files, JoinPath(packageDir, text::kDeltaArchiveFileName));
  const ReadArchive wholeFiles = Read(files, JoinPath(packageDir, text::kFullFilesArchiveFileName));
  for (const ReadArchive* archive : {&deltas, &wholeFiles}) {
    if (archive->present && !archive->check.Valid()) {
      report.Fail("archive-malformed", archive == &deltas ? text::kDeltaArchiveFileName : text::kFullFilesArchiveFileName,
                  0, "the updater cannot read it: " + archive->check.problem);
    }
  }
  auto deltaFile = files.OpenForReading(JoinPath(packageDir, text::kDeltaArchiveFileName));
  std::vector<DeltaLine> parsed;
  for (const DescriptionEntry& entry : section->entries) {
    if (auto line = ParseDeltaLine(entry.text)) parsed.push_back(std::move(*line));
  }
  // As the updater finds it: the line's own member, or that of a line with the same digests.
  const auto deltaOf = [&](const DeltaLine& line) -> const ArchiveMember* {
    if (const ArchiveMember* member = Find(deltas, line.path)) return member;
    for (const DeltaLine& other : parsed) {
      if (other.sourceSha256 != line.sourceSha256 || other.resultSha256 != line.resultSha256) continue;
      if (const ArchiveMember* member = Find(deltas, other.path)) return member;
    }
    return nullptr;
  };
  for (const DescriptionEntry& entry : section->entries) {
    if (TrimBlanks(entry.text).empty()) continue;
    const auto line = ParseDeltaLine(entry.text);
    if (!line) {
      report.Fail("delta-line-malformed", text::kDescriptionFileName, entry.line,
                  Quoted(entry.text) + " is not PATH|SHA-256 OF THE INSTALLED FILE|SHA-256 OF THE NEW FILE[|SOURCE]: the "
                  "updater ends every run of this package with 1620, nothing changed");
      continue;
    }
    ++result.deltas;
    const ArchiveMember* delta = deltaOf(*line);
    const bool whole = Find(wholeFiles, line->path) != nullptr;
    const bool readable = delta && deltaFile && deltaFile->Seek(delta->offset) &&
                          ReadDeltaHeader(*deltaFile, delta->storedSize).has_value();
    if (!readable && !whole) {
      report.Fail("delta-missing", text::kDescriptionFileName, entry.line,
                  "no readable delta for " + Quoted(line->path) + " in " + text::kDeltaArchiveFileName +
                      " and no whole file in " + text::kFullFilesArchiveFileName +
                      ": the updater ends every run of this package with 1620, nothing changed");
      continue;
    }
    if (againstDir.empty()) continue;
    const std::string installed = JoinPath(againstDir, line->Source());
    if (readable && FileSha256Hex(files, installed) == line->sourceSha256) {
      ++result.applying;
      continue;
    }
    // The installed file named in the style the user gave the directory in.
    std::string shown = againstShown + "/" + line->Source();
    std::replace(shown.begin() + static_cast<std::ptrdiff_t>(againstShown.size()), shown.end(), '\\', '/');
    const std::string why = !readable ? "the package's delta for it cannot be read"
                            : !files.FileExists(installed) ? shown + " is missing from the installation"
                                                           : shown + " is not the file the delta was made from";
    if (whole) {
      ++result.wholeFiles;
      report.Warn("delta-does-not-fit", text::kDescriptionFileName, entry.line,
                  why + ": the updater writes the whole file the package carries instead");
    } else {
      report.Fail("delta-does-not-fit", text::kDescriptionFileName, entry.line,
                  why + ": on that installation the updater ends with 1620, nothing changed; build with "
                  "--with-full-files to carry the whole file too");
    }
  }
  return result;
}

}  // namespace varno::pack
