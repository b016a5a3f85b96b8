// The bracketed sections of the package description. Every step looks its section up for
// itself, in a fresh copy of the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace varno {

struct Section {
  // The lines after the header up to the next line beginning with "[" (empty lines kept;
  // the steps pass them over).
  std::vector<std::string> entries;
  // True when any line follows the header, even another section's header.
  bool hasFollowingLine = false;
};

// The lines of the description, or nothing when the file is missing or unreadable.
std::optional<std::vector<std::string>> LoadPackageDescription(FileSystem& files, const std::string& path);

// The lines of the description for a step that reads it: nothing when the file is missing
// (the step has nothing to do). A description that exists but cannot be read raises
// "Impossible d'ouvrir le fichier %s": going on would skip what the package asks for
// without a word.
std::optional<std::vector<std::string>> LoadDescriptionForStep(FileSystem& files, const std::string& path);

// The first line equal to the header as a whole line, compared with the ANSI
// case-insensitive comparison, and its entries; nothing when no line matches.
std::optional<Section> FindSection(const std::vector<std::string>& lines, std::string_view header);

}  // namespace varno
