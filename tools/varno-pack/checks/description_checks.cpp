#include "checks/description_checks.h"

#include <map>
#include <optional>

#include "base/ansi_text.h"
#include "base/integer_text.h"
#include "base/text_lines.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "base/value_conversions.h"
#include "package/package_header.h"
#include "package/section_lookup.h"
#include "platform/message_boxes.h"
#include "shortcuts/shortcut_steps.h"
#include "steps/delete_step.h"
#include "steps/delta_step.h"
#include "steps/file_steps.h"
#include "steps/registry_step.h"

namespace varno::pack {
namespace {

constexpr char kFile[] = "MjaIni.ini";
constexpr char kSubDir[] = "[subdir]";
constexpr char kInSubDir[] = "[insubdir]";
constexpr char kDesk[] = "[desk]";
constexpr char kPrograms[] = "[programs]";
constexpr char kReg[] = "[reg]";
constexpr const char* kSections[] = {kSubDir, kInSubDir, kDesk, kPrograms, kReg, kDeleteSection, kDeltaSection};
constexpr size_t kMaxLines = 32767;
constexpr size_t kHeaderLines = 21;

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Blanks and control characters end at 0x20, the bytes TrimBlanks removes and the updater
// drops after ":" and ";" without loss.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Line n (from 1) as the header reader reads it: lines end at LF only and every CR goes.
std::string HeaderLine(std::string_view bytes, size_t n) {
  std::string line;
  size_t number = 1;
  for (const char c : bytes) {
    if (c == '\n') {
      if (++number > n) break;
    } else if (c != '\r' && number == n) {
      line += c;
    }
  }
  return line;
}

// The box text of a raised error, as the driver shows it.
template <typename Conversion>
std::optional<std::string> RaisedBoxText(Conversion conversion) {
  try {
    conversion();
  } catch (const UpdateError& error) {
    return ErrorBoxText(error.what());
  }
  return std::nullopt;
}

bool IsEmptyEntry(std::string_view text) { return TrimBlanks(text).empty(); }

// A directory as the installation's file system compares it.
std::string DirectoryKey(std::string_view path) {
  std::string key = AnsiUpperCase(path);
  for (char& c : key) {
    if (c == '/') c = '\\';
  }
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

std::string ParentOf(std::string_view path) {
  size_t end = path.size();
  while (end > 0 && IsPathSeparator(path[end - 1])) --end;
  const size_t separator = path.substr(0, end).find_last_of("\\/");
  return separator == std::string_view::npos ? std::string() : std::string(path.substr(0, separator));
}

std::string RegionalText(const RegionalSettings& regional) {
  return std::string("decimal separator \"") + regional.decimalSeparator + "\", date separator \"" +
         regional.dateSeparator + "\", time separator \"" + regional.timeSeparator + "\", short date format \"" +
         regional.shortDateFormat + "\"";
}

// The conversion the registry step applies to a prepared value, and what it is called.
struct Conversion {
  const char* what;
  std::optional<std::string> (*boxText)(const std::string&, const RegionalSettings&, int);
};

std::optional<Conversion> ConversionOf(RegValueType kind) {
  switch (kind) {
    case RegValueType::Bool:
      return Conversion{"a boolean", [](const std::string& v, const RegionalSettings& r, int) {
                          return RaisedBoxText([&] { StrToBool(v, r); });
                        }};
    case RegValueType::Float:
      return Conversion{"a number", [](const std::string& v, const RegionalSettings& r, int) {
                          return RaisedBoxText([&] { StrToFloat(v, r); });
                        }};
    case RegValueType::Date:
      return Conversion{"a date", [](const std::string& v, const RegionalSettings& r, int year) {
                          return RaisedBoxText([&] { StrToDate(v, r, year); });
                        }};
    case RegValueType::DateTime:
      return Conversion{"a date and time", [](const std::string& v, const RegionalSettings& r, int year) {
                          return RaisedBoxText([&] { StrToDateTime(v, r, year); });
                        }};
    case RegValueType::Time:
      return Conversion{"a time", [](const std::string& v, const RegionalSettings& r, int) {
                          return RaisedBoxText([&] { StrToTime(v, r); });
                        }};
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<LocatedSection> Locate(const std::vector<std::string>& lines, std::string_view header) {
  const auto section = FindSection(lines, header);
  if (!section) return std::nullopt;
  size_t at = 0;
  while (!AnsiSameText(lines[at], header)) ++at;  // the line the lookup took
  LocatedSection located;
  located.headerLine = static_cast<int>(at) + 1;
  for (size_t k = 0; k < section->entries.size(); ++k) {
    located.entries.push_back({static_cast<int>(at + k) + 2, section->entries[k]});
  }
  return located;
}


void CheckDescriptionText(std::string_view bytes, Report& report) {
  const size_t count = SplitTextLines(bytes).size();
  if (count > kMaxLines) {
    report.Warn("description-long", kFile, 0,
                "the description has " + std::to_string(count) +
                    " lines, more than 32,767: this updater reads every line, but an updater that counts lines "
                    "in 16 bits would not; keep the file shorter if the package may meet one");
  }
  // Past line 21 of the header reader a lone CR only splits what the sections read, which
  // is what its author meant; within it, the two readers see different lines.
  size_t lineFeeds = 0;
  for (size_t i = 0; i < bytes.size() && lineFeeds < kHeaderLines; ++i) {
    if (bytes[i] == '\n') {
      ++lineFeeds;
    } else if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) {
      report.Warn("description-lone-cr", kFile, static_cast<int>(lineFeeds + 1),
                  "a CR without LF ends this line for the section lookup, but the header reader ends lines at LF "
                  "only and drops the CR, so it joins this line and the next into one, and finds each later header "
                  "line one line further down the file; end lines with CR LF");
      return;
    }
  }
}

void CheckHeader(std::string_view bytes, Report& report) {
  const PackageHeader header = ParsePackageHeader(bytes);

  if (!ParseInteger(header.newVersion)) {
    const auto box = RaisedBoxText([&] { StrToInt(header.newVersion); });
    report.Fail("header-version", kFile, 2,
                (header.newVersion.empty() ? std::string("line 2 is empty")
                                           : "line 2 " + Quoted(header.newVersion) + " is not an integer") +
                    ": it is the version the package brings, and the version gate's conversion of it fails, so "
                    "the run ends in the error box " +
                    Quoted(box.value_or("")));
  }

  const std::string line17 = HeaderLine(bytes, 17);
  const auto value17 = ParseInteger(line17);
  const std::string lowest = std::to_string(header.minFileVersionNumber);
  if (!value17) {
    report.Warn("header-min-file-version", kFile, 17,
                (line17.empty() ? std::string("line 17 is empty") : "line 17 " + Quoted(line17) + " is not an integer") +
                    ": the lowest file version number of the installed program falls back to its default, " +
                    lowest);
  } else if ((static_cast<uint32_t>(*value17) & 0xFF) == 0) {
    report.Warn("header-min-file-version", kFile, 17,
                "line 17 is " + line17 +
                    ", whose low 8 bits are 0: the lowest file version number of the installed program falls back "
                    "to its default, " +
                    lowest);
  } else if (*value17 < 0 || *value17 > 255) {
    report.Warn("header-min-file-version", kFile, 17,
                "line 17 is " + line17 + ": only its low 8 bits count, so the lowest file version number of the "
                "installed program is " + lowest);
  }

  const std::string line19 = HeaderLine(bytes, 19);
  if (!ParseInteger(line19)) {
    report.Warn("header-min-installed-version", kFile, 19,
                (line19.empty() ? std::string("line 19 is empty") : "line 19 " + Quoted(line19) + " is not an integer") +
                    ": the lowest installed version the package updates falls back to its default, " +
                    std::to_string(header.minInstalledVersion));
  }

  if (header.versionLabel.empty()) {
    report.Warn("header-label-empty", kFile, 21,
                "line 21, the version label, is empty: the product's shortcuts are renamed \"Varnolith \", with "
                "nothing after the blank");
  }
}

void CheckSectionHeaders(const std::vector<std::string>& lines, Report& report) {
  std::map<std::string, size_t> first;  // by section, the line the lookup takes
  for (size_t i = 0; i < lines.size(); ++i) {
    for (const char* section : kSections) {
      if (AnsiSameText(lines[i], section) && !first.count(section)) first[section] = i;
    }
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    for (const char* section : kSections) {
      const auto taken = first.find(section);
      const std::string elsewhere =
          taken == first.end() ? "the updater finds no " + Quoted(section) + " section"
                               : "the updater reads the " + Quoted(section) + " of line " +
                                     std::to_string(taken->second + 1) + " instead";
      if (AnsiSameText(lines[i], section)) {
        if (taken->second == i) continue;
        size_t ignored = 0;
        for (size_t j = i + 1; j < lines.size() && !lines[j].starts_with('['); ++j) {
          ignored += IsEmptyEntry(lines[j]) ? 0 : 1;
        }
        report.Warn("section-duplicate", kFile, static_cast<int>(i + 1),
                    "a second " + Quoted(section) + " header: the updater reads only the first one, at line " +
                        std::to_string(taken->second + 1) + ", so the " + std::to_string(ignored) + " line" +
                        (ignored == 1 ? "" : "s") + " below this one " + (ignored == 1 ? "is" : "are") +
                        " ignored");
      } else if (AnsiSameText(TrimBlanks(lines[i]), section)) {
        if (lines[i].starts_with('[')) {
          report.Warn("section-not-found", kFile, static_cast<int>(i + 1),
                      Quoted(lines[i]) + " ends with a blank or control character, so the section lookup, which "
                      "compares whole lines, does not take it for " + Quoted(section) + ": " + elsewhere +
                          ", and the lines below this one belong to no section");
        } else {
          report.Warn("section-not-found", kFile, static_cast<int>(i + 1),
                      Quoted(lines[i]) + " starts with a blank or control character, so it is no section header: " +
                          elsewhere + ", and this line does not even end the section above it");
        }
      }
    }
  }
}

std::vector<DescriptionEntry> CheckSubDirectories(const std::vector<std::string>& lines, Report& report) {
  const auto section = Locate(lines, kSubDir);
  if (!section) return {};
  // Where each directory is first listed, and whether the updater can make it there on an
  // installation that has none of the listed directories yet.
  std::map<std::string, size_t> listedAt;
  for (size_t k = 0; k < section->entries.size(); ++k) {
    const std::string& text = section->entries[k].text;
    if (!text.empty()) listedAt.emplace(DirectoryKey(text), k);
  }
  std::map<std::string, bool> creatable;
  for (size_t k = 0; k < section->entries.size(); ++k) {
    const DescriptionEntry& entry = section->entries[k];
    if (entry.text.empty()) continue;  // the step passes empty lines over
    const std::string parent = ParentOf(entry.text);
    const auto listed = parent.empty() ? listedAt.end() : listedAt.find(DirectoryKey(parent));
    bool canMake = true;
    if (listed != listedAt.end()) {
      const DescriptionEntry& parentEntry = section->entries[listed->second];
      if (listed->second > k) {
        canMake = false;
        report.Warn("subdir-order", kFile, entry.line,
                    Quoted(entry.text) + " comes before its parent " + Quoted(parentEntry.text) + " (line " +
                        std::to_string(parentEntry.line) +
                        "): the updater makes one level per line, in file order, so it does not create " +
                        Quoted(entry.text) + " on an installation that lacks " + Quoted(parentEntry.text));
      } else if (!creatable[listed->first]) {
        canMake = false;
        report.Warn("subdir-order", kFile, entry.line,
                    Quoted(entry.text) + " is not created either on an installation that lacks its parent " +
                        Quoted(parentEntry.text) + " (line " + std::to_string(parentEntry.line) +
                        "), which its own parent comes too late to allow");
      }
    }
    creatable.emplace(DirectoryKey(entry.text), canMake);
  }
  return section->entries;
}

std::vector<SubDirArchiveEntry> CheckSubDirArchives(const std::vector<std::string>& lines, Report& report) {
  std::vector<SubDirArchiveEntry> named;
  const auto section = Locate(lines, kInSubDir);
  if (!section) return named;
  for (const DescriptionEntry& entry : section->entries) {
    if (IsEmptyEntry(entry.text)) continue;
    const auto split = SplitSubDirArchive(entry.text);
    if (!split) {
      report.Warn("insubdir-no-colon", kFile, entry.line,
                  Quoted(entry.text) + " has no \":\" between the sub-directory and the archive: the updater "
                  "passes the line over");
      continue;
    }
    const size_t colon = entry.text.find(':');
    if (colon + 1 < entry.text.size() && !IsBlank(entry.text[colon + 1])) {
      const std::string meant = TrimBlanks(std::string_view(entry.text).substr(colon + 1));
      report.Warn("insubdir-no-blank", kFile, entry.line,
                  "no blank after \":\": the updater drops the character after it whatever it is, so it looks "
                  "for the archive " + Quoted(split->archiveName) + ", not " + Quoted(meant));
    }
    if (split->archiveName.empty()) {
      report.Warn("insubdir-no-archive", kFile, entry.line,
                  Quoted(entry.text) + " names no archive after \":\": the updater passes the line over");
      continue;
    }
    named.push_back({entry.line, split->subDirectory, split->archiveName});
  }
  return named;
}

void CheckRegistryValues(const std::vector<std::string>& lines, const RegionalSettings& regional, int currentYear,
                         Report& report) {
  const auto section = Locate(lines, kReg);
  if (!section) return;
  for (const DescriptionEntry& entry : section->entries) {
    if (IsEmptyEntry(entry.text)) continue;
    const std::string& line = entry.text;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      report.Warn("reg-no-colon", kFile, entry.line,
                  Quoted(line) + " has no \":\" after the value's name: the updater skips it");
      continue;
    }
    const RegEntry parsed = ParseRegEntry(line);
    if (parsed.name.empty()) {
      report.Warn("reg-no-name", kFile, entry.line, "no value name before \":\": the updater skips the line");
      continue;
    }
    if (colon + 1 < line.size() && !IsBlank(line[colon + 1])) {
      report.Warn("reg-no-blank-colon", kFile, entry.line,
                  "no blank after \":\": the updater drops the character after it whatever it is, so the type "
                  "word is read as " + Quoted(parsed.typeWord));
    }
    const std::string_view rest = colon + 2 <= line.size() ? std::string_view(line).substr(colon + 2) : "";
    const size_t semicolon = rest.find(';');
    if (semicolon == std::string_view::npos) {
      report.Warn("reg-no-semicolon", kFile, entry.line,
                  "no \";\" after the type word: the updater reads an empty type word and skips the line");
      continue;
    }
    if (semicolon + 1 < rest.size() && !IsBlank(rest[semicolon + 1])) {
      report.Warn("reg-no-blank-semicolon", kFile, entry.line,
                  "no blank after \";\": the updater drops the character after it whatever it is, so the value is "
                  "read as " + Quoted(parsed.value));
    }
    if (!IsKnownTypeWord(parsed.typeWord)) {
      report.Warn("reg-unknown-type", kFile, entry.line,
                  "the type word " + Quoted(parsed.typeWord) +
                      " is none of string, integer, bool, float, date, datetime, time: the updater skips the line");
      continue;
    }
    const RegValueType kind = RegTypeFromName(parsed.typeWord);
    if (kind == RegValueType::None) {
      report.Warn("reg-type-not-written", kFile, entry.line,
                  "the type word " + Quoted(parsed.typeWord) +
                      " passes the updater's test of type words but names no type (\"string\" must be written in "
                      "lower case, the other type names in any case but whole): the updater records the name " +
                      Quoted(parsed.name) + " in the uninstall record when it is new, and writes no value");
      continue;
    }
    const std::string value = PrepareValueText(kind, parsed.value, regional);
    const std::string readAs = value == parsed.value ? "" : " (read as " + Quoted(value) + ")";
    if (kind == RegValueType::Integer) {
      if (!ParseInteger(value)) {
        report.Warn("reg-integer-zero", kFile, entry.line,
                    "the value " + Quoted(parsed.value) + " is not an integer: the updater writes 0");
      }
      continue;
    }
    const auto conversion = ConversionOf(kind);
    if (!conversion) continue;
    if (const auto box = conversion->boxText(value, regional, currentYear)) {
      report.Fail("reg-value-rejected", kFile, entry.line,
                  "the value " + Quoted(parsed.value) + readAs + " is not " + conversion->what + " under the regional settings (" +
                      RegionalText(regional) + "): the conversion fails and the run ends in the error box " +
                      Quoted(*box) + ", before the control is registered and the database updated");
    }
  }
}

void CheckDeletions(const std::vector<std::string>& lines, Report& report) {
  const auto section = Locate(lines, kDeleteSection);
  if (!section) return;
  for (const DescriptionEntry& entry : section->entries) {
    if (IsEmptyEntry(entry.text)) continue;
    const auto refusal = CheckDeletePath(DeletePathOf(entry.text));
    if (!refusal) continue;
    const char* why = *refusal == DeleteRefusal::Absolute ? "is absolute, or names a drive or a stream"
                      : *refusal == DeleteRefusal::Climbs ? "climbs out of the installation directory or names it "
                                                            "(a \"..\", \".\" or empty component)"
                      : *refusal == DeleteRefusal::BadName ? "has a name Windows reads as another (a component that "
                                                             "ends with a dot or a blank, or a device name)"
                                                          : "is one of the updater's own files (the uninstall record, "
                                                            "the run log, the rollback journal), or its short name";
    report.Fail("delete-refused", kFile, entry.line,
                Quoted(TrimBlanks(entry.text)) + " " + why + ": the updater passes the line over and removes nothing");
  }
}

void CheckShortcuts(const std::vector<std::string>& lines, Report& report) {
  const auto desk = Locate(lines, kDesk);
  if (desk) {
    for (const DescriptionEntry& entry : desk->entries) {
      if (IsEmptyEntry(entry.text) || entry.text.find(':') != std::string::npos) continue;
      const LinkEntry link = ParseDeskEntry(entry.text);
      report.Warn("desk-no-colon", kFile, entry.line,
                  "no \":\" between the target and the shortcut's name: the updater names the shortcut " +
                      Quoted(link.name) + " and makes it point at the installation directory itself");
    }
  }
  const auto programs = Locate(lines, kPrograms);
  if (!programs) return;
  if (!desk) {
    report.Warn("programs-without-desk", kFile, programs->headerLine,
                "the updater reads \"[programs]\" only in a description that has \"[desk]\": none of these "
                "shortcuts is created");
  }
  for (const DescriptionEntry& entry : programs->entries) {
    if (IsEmptyEntry(entry.text)) continue;
    const LinkEntry link = ParseProgramsEntry(entry.text);
    if (entry.text.find(';') == std::string::npos) {
      report.Warn("programs-no-semicolon", kFile, entry.line,
                  "no \";\" before the program group: the updater takes the whole line, " + Quoted(link.group) +
                      ", as the group, which is no existing folder, and creates no shortcut");
    } else if (entry.text.find(':') == std::string::npos) {
      report.Warn("programs-no-colon", kFile, entry.line,
                  "no \":\" between the target and the shortcut's name: the updater makes the shortcut " +
                      Quoted(link.name) + " point at the installation directory itself");
    }
  }
}

}  // namespace varno::pack
