#include "steps/delete_step.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "package/archive_layout.h"
#include "package/section_lookup.h"
#include "steps/file_steps.h"
#include "rollback/journal.h"

namespace varno {
namespace {

std::string BaseNameOf(const std::string& path) {
  const size_t separator = path.find_last_of('\\');
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The places, relative to the installation, where the package makes a directory or writes
// a file, in upper case: the "[subdir]" lines and the members of the archives.
std::vector<std::string> PackagePlaces(FileSystem& files, const RunState& state, const std::vector<std::string>& lines) {
  std::vector<std::string> places;
  if (const auto subdirs = FindSection(lines, kSubDirSection)) {
    for (const std::string& line : subdirs->entries) {
      if (!line.empty()) places.push_back(AnsiUpperCase(DeletePathOf(line)));
    }
  }
  const auto add = [&](const std::string& archive, const std::string& prefix) {
    if (!files.FileExists(archive)) return;
    const ArchiveCheck check = CheckArchiveFile(files, archive);
    for (const ArchiveMember& member : check.layout.members) places.push_back(AnsiUpperCase(prefix + member.name));
  };
  add(JoinPath(state.packageDir, text::kMainArchiveFileName), "");
  for (const SubDirArchive& entry : SubDirArchives(lines).value_or(std::vector<SubDirArchive>{})) {
    add(JoinPath(state.packageDir, entry.archiveName), DeletePathOf(entry.subDirectory) + "\\");
  }
  return places;
}

// Whether the package puts something at the path, below it, or at a path above it.
bool InTheWay(const std::vector<std::string>& places, const std::string& path) {
  const std::string key = AnsiUpperCase(path);
  for (const std::string& place : places) {
    if (place == key || place.starts_with(key + "\\") || key.starts_with(place + "\\")) return true;
  }
  return false;
}

}  // namespace

std::string DeletePathOf(std::string_view line) {
  std::string path = TrimBlanks(line);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

std::optional<DeleteRefusal> CheckDeletePath(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.find(':') != std::string_view::npos) {
    return DeleteRefusal::Absolute;
  }
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('\\', start);
    const std::string_view component = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (component.empty() || component == "." || component == "..") return DeleteRefusal::Climbs;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (NamesUpdaterFile(path)) return DeleteRefusal::UpdaterFile;
  if (CheckWindowsPath(path)) return DeleteRefusal::BadName;
  return std::nullopt;
}

bool NamesUpdaterFile(std::string_view path) {
  const std::string name = AnsiUpperCase(path);
  const size_t tilde = name.find('~');
  for (const char* own : {text::kUninstallRecordFileName, text::kRunLogFileName, kJournalFileName}) {
    const std::string ownName = AnsiUpperCase(own);
    if (name == ownName) return true;
    // A short name: up to six characters of the name, "~", digits, and up to three of the
    // extension.
    const size_t dot = ownName.rfind('.');
    if (tilde == std::string::npos || tilde == 0 || tilde > 6 || dot == std::string::npos) continue;
    const size_t nameDot = name.find('.', tilde);
    const std::string digits = name.substr(tilde + 1, (nameDot == std::string::npos ? name.size() : nameDot) - tilde - 1);
    const std::string extension = nameDot == std::string::npos ? "" : name.substr(nameDot + 1);
    if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos &&
        ownName.starts_with(name.substr(0, tilde)) && extension == ownName.substr(dot + 1, 3)) {
      return true;
    }
  }
  return false;
}

std::optional<std::vector<DeleteOutcome>> DeleteDroppedFiles(Platform& platform, const RunState& state,
                                                             WriteLogList& record, DeletePass pass) {
  using Kind = DeleteOutcome::Kind;
  std::vector<DeleteOutcome> outcomes;
  FileSystem& files = platform.files;
  const auto lines = LoadDescriptionForStep(files, state.packageDescriptionPath);
  const auto section = lines ? FindSection(*lines, kDeleteSection) : std::nullopt;
  if (!section) return std::nullopt;
  const std::vector<std::string> places = PackagePlaces(files, state, *lines);
  for (const std::string& line : section->entries) {
    const std::string path = DeletePathOf(line);
    if (path.empty() && TrimBlanks(line).empty()) continue;
    const bool refused = CheckDeletePath(path).has_value();
    if ((pass == DeletePass::InTheWay) != (!refused && InTheWay(places, path))) continue;
    if (refused) {
      outcomes.push_back({Kind::Refused, TrimBlanks(line)});
      continue;
    }
    const std::string full = JoinPath(state.installDir, path);
    if (files.FileExists(full)) {
      if (!files.RemoveFile(full)) {
        outcomes.push_back({Kind::NotRemoved, path});
        continue;
      }
      record.RemoveEntry(record::kSurFile, path);
      if (path.find('\\') != std::string::npos) record.RemoveEntry(record::kSurFileDir, BaseNameOf(path));
      outcomes.push_back({Kind::FileRemoved, path});
    } else if (files.DirectoryExists(full)) {
      if (!files.RemoveEmptyDirectory(full)) {
        outcomes.push_back({Kind::DirectoryNotEmpty, path});
        continue;
      }
      record.RemoveEntry(record::kSurDir, path);
      outcomes.push_back({Kind::DirectoryRemoved, path});
    } else {
      outcomes.push_back({Kind::Absent, path});
    }
  }
  return outcomes;
}

}  // namespace varno
