#include "package/section_lookup.h"

#include "base/ansi_text.h"
#include "base/text_lines.h"
#include "base/texts.h"
#include "base/update_error.h"

namespace varno {

std::optional<std::vector<std::string>> LoadPackageDescription(FileSystem& files, const std::string& path) {
  auto bytes = files.ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  return SplitTextLines(*bytes);
}

std::optional<std::vector<std::string>> LoadDescriptionForStep(FileSystem& files, const std::string& path) {
  if (!files.FileExists(path)) return std::nullopt;
  auto lines = LoadPackageDescription(files, path);
  if (!lines) throw UpdateError(FormatText(text::kCannotOpenFile, {path}));
  return lines;
}

std::optional<Section> FindSection(const std::vector<std::string>& lines, std::string_view header) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!AnsiSameText(lines[i], header)) continue;
    Section section;
    section.hasFollowingLine = i + 1 < lines.size();
    for (size_t j = i + 1; j < lines.size() && !lines[j].starts_with('['); ++j) {
      section.entries.push_back(lines[j]);
    }
    return section;
  }
  return std::nullopt;
}

}  // namespace varno
