#include "commands/check_command.h"
#include "host/package_directory.h"

#include <algorithm>
#include <map>
#include <set>

#include "base/ansi_text.h"
#include "base/text_lines.h"
#include "base/texts.h"
#include "checks/description_checks.h"
#include "package/archive_layout.h"
#include "package/member_stream.h"
#include "package/package_manifest.h"
#include "package/section_lookup.h"
#include "project/name_rules.h"
#include "steps/package_files.h"

namespace varno::pack {
namespace {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string DirectoryKey(std::string_view path) {
  std::string key = AnsiUpperCase(path);
  for (char& c : key) {
    if (c == '/') c = '\\';
  }
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

constexpr char kNotRecognised[] = "the updater shows \"Fichier archive non reconnu !\" and unpacks nothing of it: ";

// The main archive is unpacked before "[subdir]" makes its directories, so a member that
// goes into one of them finds no directory on an installation that lacks it.
void CheckMainArchiveDirectories(const ArchiveLayout& layout, const std::vector<DescriptionEntry>& subDirectories,
                                 Report& report) {
  struct Late {
    const DescriptionEntry* entry;
    std::string example;
    size_t members = 0;
  };
  std::map<std::string, Late> late;  // by the member's directory
  for (const ArchiveMember& member : layout.members) {
    const std::string directory = ParentOf(member.name);
    if (directory.empty()) continue;
    const std::string key = DirectoryKey(directory);
    for (const DescriptionEntry& entry : subDirectories) {
      const std::string made = DirectoryKey(entry.text);
      if (made.empty() || (key != made && !key.starts_with(made + "\\"))) continue;
      Late& found = late.try_emplace(key, Late{&entry, member.name}).first->second;
      ++found.members;
      break;
    }
  }
  for (const auto& [key, found] : late) {
    const std::string directory = ParentOf(found.example);
    report.Warn("main-archive-directory-later", text::kMainArchiveFileName, 0,
                std::to_string(found.members) + " member" + (found.members == 1 ? "" : "s") + " (" +
                    Quoted(found.example) + (found.members == 1 ? "" : ", ...") + ") go" +
                    (found.members == 1 ? "es" : "") + " into " + Quoted(directory) + ", which \"[subdir]\" (line " +
                    std::to_string(found.entry->line) + ") makes only after " + text::kMainArchiveFileName +
                    " is unpacked: on an installation that lacks it, the updater passes " +
                    (found.members == 1 ? "that member" : "them") + " over and still records " +
                    (found.members == 1 ? "its name" : "their names"));
  }
}

// Member names the archive reader takes but Windows or the installation would not keep as
// written (a device name, a dot or a blank at the end): the same rules create and build
// apply, so that no command says a name is right that another refuses.
void CheckInstalledNames(const ArchiveLayout& layout, const std::string& file, int line, const std::string& archive,
                         const std::string& subDirectory, int installDirLength, Report& report) {
  for (const ArchiveMember& member : layout.members) {
    const std::string where = "the member " + Quoted(member.name) + (archive.empty() ? "" : " of " + Quoted(archive));
    if (auto problem = CheckInstalledPath(member.name)) {
      report.Fail("name-refused", file, line, where + " " + *problem + ": Windows does not keep that file under that name");
    }
    const std::string relative = subDirectory.empty() ? member.name : subDirectory + "\\" + member.name;
    if (auto problem = CheckPathLength(relative, installDirLength)) {
      report.Fail("path-too-long", file, line, where + " " + *problem);
    }
  }
}

// The layout check does not inflate: a compressed member whose bytes are damaged is found
// only when it is unpacked, where the updater fails the run on it. Each is inflated here.
void CheckCompressedMembers(FileSystem& files, const std::string& path, const ArchiveLayout& layout,
                            const std::string& file, int line, const std::string& archive, Report& report) {
  if (!layout.compressed) return;
  auto input = files.OpenForReading(path);
  for (const ArchiveMember& member : layout.members) {
    if (member.method == archive::kStored) continue;
    auto problem = input ? CheckMemberBytes(*input, member) : std::optional<std::string>("the archive cannot be opened");
    if (!problem) continue;
    report.Fail("member-corrupt", file, line,
                "the compressed member " + Quoted(member.name) + (archive.empty() ? "" : " of " + Quoted(archive)) +
                    " cannot be unpacked: " + *problem + "; the updater fails the run on it and restores the installation");
  }
}

// A file of the package directory that no run reads: an author who meant it to be
// installed would find it missing, and a signature does not cover it. The updater program
// is named nowhere: the one program left over is taken for it.
void CheckUnreadFiles(FileSystem& files, const std::string& packageDir, const std::vector<std::string>& lines,
                      Report& report) {
  std::set<std::string> read;
  for (const std::string& name : PackageFileNames(lines)) read.insert(AnsiUpperCase(name));
  read.insert(AnsiUpperCase(kSignatureFileName));
  std::vector<std::string> unread, programs;
  auto listing = files.ListMatching(packageDir + "\\*");
  while (auto entry = listing->Next()) {
    if (entry->isDirectory || read.count(AnsiUpperCase(entry->name))) continue;
    (AnsiUpperCase(entry->name).ends_with(".EXE") ? programs : unread).push_back(entry->name);
  }
  if (programs.size() > 1) unread.insert(unread.end(), programs.begin(), programs.end());
  std::sort(unread.begin(), unread.end());
  for (const std::string& name : unread) {
    report.Warn("file-not-read", name, 0,
                "is in the package directory but the description does not name it: the updater never reads or "
                "installs it, and a signature does not cover it" +
                    std::string(programs.size() > 1 ? " (of the programs here, one only is the updater)" : ""));
  }
}

}  // namespace

RegionalSettings FrenchRegionalSettings() {
  RegionalSettings french;
  french.decimalSeparator = ',';
  french.dateSeparator = '/';
  french.timeSeparator = ':';
  french.shortDateFormat = "dd/MM/yyyy";
  return french;
}

DeltaCheck CheckPackage(FileSystem& files, const CheckRequest& request, Report& report) {
  DeltaCheck deltas;
  const std::string descriptionPath = JoinPath(request.packageDir, text::kDescriptionFileName);
  std::vector<DescriptionEntry> subDirectories;
  std::vector<SubDirArchiveEntry> subDirArchives;
  ClearSystemError();
  if (!files.FileExists(descriptionPath)) {
    report.Fail("description-missing", text::kDescriptionFileName, 0,
                "the package has no description: the updater writes \"Fichier Ini  manquant\" in its log and ends");
  } else if (const auto bytes = files.ReadWholeFile(descriptionPath); !bytes) {
    report.Fail("description-unreadable", text::kDescriptionFileName, 0,
                "the description cannot be read" + SystemReason());
  } else {
    const auto lines = SplitTextLines(*bytes);
    CheckDescriptionText(*bytes, report);
    CheckHeader(*bytes, report);
    CheckSectionHeaders(lines, report);
    subDirectories = CheckSubDirectories(lines, report);
    for (const DescriptionEntry& entry : subDirectories) {
      if (entry.text.empty()) continue;
      if (auto problem = CheckInstalledPath(entry.text, true)) {
        report.Fail("name-refused", text::kDescriptionFileName, entry.line,
                    "the directory " + Quoted(entry.text) + " " + *problem);
      }
    }
    subDirArchives = CheckSubDirArchives(lines, report);
    CheckShortcuts(lines, report);
    CheckDeletions(lines, report);
    deltas = CheckDeltas(files, request.packageDir, lines, request.againstDir, request.againstShown, report);
    CheckRegistryValues(lines, request.regional, request.currentYear, report);
    CheckUnreadFiles(files, request.packageDir, lines, report);
  }

  const std::string mainArchive = JoinPath(request.packageDir, text::kMainArchiveFileName);
  if (files.FileExists(mainArchive)) {
    const ArchiveCheck check = CheckArchiveFile(files, mainArchive);
    if (!check.Valid()) {
      report.Fail("archive-malformed", text::kMainArchiveFileName, 0, kNotRecognised + check.problem);
    } else {
      CheckMainArchiveDirectories(check.layout, subDirectories, report);
      CheckInstalledNames(check.layout, text::kMainArchiveFileName, 0, "", "", request.installDirLength, report);
      CheckCompressedMembers(files, mainArchive, check.layout, text::kMainArchiveFileName, 0, "", report);
    }
  }

  std::map<std::string, ArchiveCheck> checked;  // by upper-case name, each archive read once
  for (const SubDirArchiveEntry& entry : subDirArchives) {
    const std::string path = JoinPath(request.packageDir, entry.archiveName);
    if (!files.FileExists(path)) {
      report.Fail("archive-missing", text::kDescriptionFileName, entry.line,
                  "the archive " + Quoted(entry.archiveName) +
                      " is not in the package directory: the updater passes the line over and unpacks nothing "
                      "into " + Quoted(entry.subDirectory));
      continue;
    }
    const std::string key = AnsiUpperCase(entry.archiveName);
    const bool first = !checked.count(key);
    if (first) checked.emplace(key, CheckArchiveFile(files, path));
    const ArchiveCheck& check = checked.at(key);
    if (!check.Valid()) {
      report.Fail("archive-malformed", text::kDescriptionFileName, entry.line,
                  "the archive " + Quoted(entry.archiveName) + " is malformed: " + kNotRecognised + check.problem);
    } else if (first) {
      CheckInstalledNames(check.layout, text::kDescriptionFileName, entry.line, entry.archiveName, entry.subDirectory,
                          request.installDirLength, report);
      CheckCompressedMembers(files, path, check.layout, text::kDescriptionFileName, entry.line, entry.archiveName, report);
    }
  }
  report.SortByPlace();
  return deltas;
}

Json CheckJson(const CheckRequest& request, const Report& report) {
  Json document = ReportJson("check", report);
  document["package"] = JsonText(request.packageShown);
  Json regional;
  regional["decimalSeparator"] = JsonText(std::string(1, request.regional.decimalSeparator));
  regional["dateSeparator"] = JsonText(std::string(1, request.regional.dateSeparator));
  regional["timeSeparator"] = JsonText(std::string(1, request.regional.timeSeparator));
  regional["shortDateFormat"] = JsonText(request.regional.shortDateFormat);
  regional["currentYear"] = request.currentYear;
  document["installDirLength"] = request.installDirLength;
  document["regional"] = std::move(regional);
  return document;
}

void PrintCheck(const CheckRequest& request, const Report& report, const DeltaCheck& deltas) {
  PrintFindings(stdout, report);
  if (!request.againstDir.empty() && deltas.deltas > 0) {
    PrintText(stdout, std::to_string(deltas.applying) + " of " + std::to_string(deltas.deltas) + " delta" +
                          (deltas.deltas == 1 ? "" : "s") + " apply to " + request.againstShown + "; " +
                          std::to_string(deltas.wholeFiles) + " replaced by the whole file\n");
  }
  const size_t errors = report.Count(Severity::Error);
  const size_t warnings = report.Count(Severity::Warning);
  std::string summary = request.packageShown + ": ";
  if (errors + warnings == 0) {
    summary += "no findings";
  } else {
    summary += std::to_string(errors) + " error" + (errors == 1 ? "" : "s") + ", " + std::to_string(warnings) +
               " warning" + (warnings == 1 ? "" : "s");
  }
  PrintText(stdout, summary + "\n");
}

}  // namespace varno::pack
