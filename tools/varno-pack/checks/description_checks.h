// checks/: what the updater will make of a package, as findings (description, deltas), and the report of them.
// The checks of the package description "MjaIni.ini": each finding carries its line and
// says what the updater will do with that line, read with the updater's own header reader,
// section lookup, line parsers and value conversions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/report.h"
#include "platform/system.h"

namespace varno::pack {

// The line count, and line ends that the header reader and the section lookup read apart.
void CheckDescriptionText(std::string_view bytes, Report& report);

// Lines 2, 17, 19 and 21, the only header lines the updater interprets.
void CheckHeader(std::string_view bytes, Report& report);

// Headers the section lookup will not find: a second header of a section, and one with a
// blank or control character at either end.
void CheckSectionHeaders(const std::vector<std::string>& lines, Report& report);

struct DescriptionEntry {
  int line = 0;  // counted from 1, as the section lookup splits the file
  std::string text;
};

// The section the updater's lookup finds, with the line of each entry.
struct LocatedSection {
  int headerLine = 0;
  std::vector<DescriptionEntry> entries;
};
std::optional<LocatedSection> Locate(const std::vector<std::string>& lines, std::string_view header);

// "[subdir]": directories listed before their parents. Gives the section's entries.
std::vector<DescriptionEntry> CheckSubDirectories(const std::vector<std::string>& lines, Report& report);

// "[insubdir]": lines without ":" or without an archive, and archive names that lose their
// first character. Gives the lines that name an archive, as the updater splits them.
struct SubDirArchiveEntry {
  int line = 0;
  std::string subDirectory;
  std::string archiveName;
};
std::vector<SubDirArchiveEntry> CheckSubDirArchives(const std::vector<std::string>& lines, Report& report);

// "[reg]": lines that are skipped, that lose a character, whose type is recorded but never
// written, and values that the conversions refuse under these regional settings.
void CheckRegistryValues(const std::vector<std::string>& lines, const RegionalSettings& regional, int currentYear,
                         Report& report);

// "[delete]": paths the updater refuses to remove (outside the installation, its own files).
void CheckDeletions(const std::vector<std::string>& lines, Report& report);

// "[desk]" and "[programs]", split by the shortcut steps' own parsers: lines without the
// separators their fields need, and a "[programs]" section that is never read.
void CheckShortcuts(const std::vector<std::string>& lines, Report& report);

}  // namespace varno::pack
