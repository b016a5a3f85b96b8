#include "steps/delete_step.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "package/section_lookup.h"
#include "rollback/journal.h"

namespace varno {
namespace {

std::string BaseNameOf(const std::string& path) {
  const size_t separator = path.find_last_of('\\');
  return separator == std::string::npos ? path : path.substr(separator + 1);
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
  for (const char* own : {text::kUninstallRecordFileName, text::kRunLogFileName, kJournalFileName}) {
    if (AnsiSameText(path, own)) return DeleteRefusal::UpdaterFile;
  }
  return std::nullopt;
}

std::optional<std::vector<DeleteOutcome>> DeleteDroppedFiles(Platform& platform, const RunState& state,
                                                             WriteLogList& record) {
  using Kind = DeleteOutcome::Kind;
  std::vector<DeleteOutcome> outcomes;
  FileSystem& files = platform.files;
  const auto lines = LoadDescriptionForStep(files, state.packageDescriptionPath);
  const auto section = lines ? FindSection(*lines, kDeleteSection) : std::nullopt;
  if (!section) return std::nullopt;
  for (const std::string& line : section->entries) {
    const std::string path = DeletePathOf(line);
    if (path.empty() && TrimBlanks(line).empty()) continue;
    if (CheckDeletePath(path)) {
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
