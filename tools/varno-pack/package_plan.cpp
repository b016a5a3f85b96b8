#include "package_plan.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "delta_encoder.h"
#include "name_rules.h"
#include "package_directory.h"
#include "package/archive_layout.h"
#include "platform/portable_sha256.h"
#include "steps/delete_step.h"
#include "steps/delta_step.h"

namespace varno::pack {
namespace {

// The encoder holds both files and an index of the previous one (about six times the
// file's size); a larger file goes whole.
constexpr uint64_t kMaxDeltaFileSize = 512ull << 20;

std::string Shown(const std::string& rootShown, const std::string& relative) {
  std::string shown = rootShown + "/" + relative;
  std::replace(shown.begin(), shown.end(), '\\', '/');
  return shown;
}

// A refused entry's path: the separators of its directory's path as "/", its own name as
// the file system gave it (a "\" in a Linux name is part of the name, not a separator).
std::string ShownEntry(const std::string& rootShown, const std::string& relative, const std::string& name) {
  return (relative.empty() ? rootShown : Shown(rootShown, relative)) + "/" + name;
}

bool ByName(const std::string& a, const std::string& b) {
  const std::string ua = AnsiUpperCase(a), ub = AnsiUpperCase(b);
  return ua != ub ? ua < ub : a < b;
}

void Walk(FileSystem& files, const std::string& directory, const std::string& relative, const std::string& rootShown,
          const std::vector<std::string>& exclude, StagingTree& tree, std::vector<StagedFile>& here, Report& report) {
  std::vector<DirectoryEntry> entries;
  auto listing = files.ListMatching(directory + "\\*");
  while (auto entry = listing->Next()) {
    if (!Excluded(exclude, relative.empty() ? entry->name : relative + "\\" + entry->name, entry->name)) {
      entries.push_back(std::move(*entry));
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return ByName(a.name, b.name); });
  for (size_t i = 0; i < entries.size(); ++i) {
    const DirectoryEntry& entry = entries[i];
    const std::string child = relative.empty() ? entry.name : relative + "\\" + entry.name;
    if (i > 0 && AnsiSameText(entries[i - 1].name, entry.name)) {
      report.Fail("name-refused", ShownEntry(rootShown, relative, entry.name), 0,
                  "differs from \"" + entries[i - 1].name + "\" only in case: Windows holds one of them only");
      continue;
    }
    if (auto problem = CheckInstalledName(entry.name, entry.isDirectory)) {
      report.Fail("name-refused", ShownEntry(rootShown, relative, entry.name), 0, "the name " + *problem);
      continue;
    }
    const std::string path = directory + "\\" + entry.name;
    if (entry.isDirectory) continue;
    ClearSystemError();
    auto file = files.OpenForReading(path);
    if (!file) {
      report.Fail("source-unreadable", Shown(rootShown, child), 0, "cannot be read" + SystemReason());
      continue;
    }
    here.push_back({child, path, file->Size()});
  }
  for (const DirectoryEntry& entry : entries) {
    if (!entry.isDirectory || CheckInstalledName(entry.name, true)) continue;
    const std::string child = relative.empty() ? entry.name : relative + "\\" + entry.name;
    const size_t index = tree.directories.size();
    tree.directories.push_back({child, {}});
    std::vector<StagedFile> inside;
    Walk(files, directory + "\\" + entry.name, child, rootShown, exclude, tree, inside, report);
    tree.directories[index].files = std::move(inside);
  }
}

std::string BaseName(const std::string& relative) {
  const size_t slash = relative.find_last_of('\\');
  return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

bool SameContent(FileSystem& files, const StagedFile& a, const StagedFile& b) {
  if (a.size != b.size) return false;
  auto first = files.OpenForReading(a.path);
  auto second = files.OpenForReading(b.path);
  if (!first || !second) return false;
  std::vector<char> one(1 << 16), two(1 << 16);
  for (;;) {
    const size_t read = first->Read(one.data(), one.size());
    if (second->Read(two.data(), read) != read || !std::equal(one.begin(), one.begin() + read, two.begin())) {
      return false;
    }
    if (read == 0) return true;
  }
}

// Fills archives of up to 128 members that stay within the format's offsets, in order.
std::vector<std::vector<StagedFile>> Split(const std::vector<StagedFile>& members) {
  std::vector<std::vector<StagedFile>> parts;
  uint64_t offset = 0;
  for (const StagedFile& file : members) {
    const bool full = !parts.empty() && (parts.back().size() == archive::kMaxMembers ||
                                         offset + 4 + file.size > archive::kMaxNameTableOffset);
    if (parts.empty() || full) {
      parts.emplace_back();
      offset = archive::kHeaderSize;
    }
    parts.back().push_back(file);
    offset += 4 + file.size;
  }
  return parts;
}

PlannedArchive Archive(std::string fileName, std::string subDirectory, std::vector<StagedFile> members) {
  PlannedArchive planned{std::move(fileName), std::move(subDirectory), std::move(members), {}, {}};
  for (const StagedFile& member : planned.members) planned.memberNames.push_back(BaseName(member.relative));
  return planned;
}

void CheckLimits(const PlannedArchive& planned, const std::string& where, Report& report) {
  uint64_t offset = archive::kHeaderSize + 4 * uint64_t{planned.members.size()};
  for (const StagedFile& member : planned.members) offset += member.size;
  if (auto problem = CheckArchiveLimits(planned.members.size(), offset)) {
    report.Fail("archive-limits", where, 0, *problem);
  }
}

}  // namespace

StagingTree ReadStagingTree(FileSystem& files, const std::string& root, const std::string& rootShown,
                            const std::vector<std::string>& exclude, Report& report) {
  StagingTree tree;
  Walk(files, WithoutTrailingBackslash(root), "", rootShown, exclude, tree, tree.topFiles, report);
  return tree;
}

bool Excluded(const std::vector<std::string>& exclude, const std::string& relative, const std::string& name) {
  for (const std::string& pattern : exclude) {
    const bool isPath = pattern.find('\\') != std::string::npos;
    if (MatchesWildcard(isPath ? relative : name, pattern)) return true;
  }
  return false;
}

PackagePlan PlanPackage(FileSystem& files, const Project& project, const StagingTree& tree,
                        const StagedFile& extraTopMember, const StagingTree* previous, Report& report,
                        const PlanOptions& options) {
  PackagePlan plan;
  std::map<std::string, const StagedFile*> before;  // by upper-case relative path
  std::set<std::string> directoriesBefore;
  std::set<std::string> filesNow, directoriesNow;
  if (previous) {
    for (const StagedFile& file : previous->topFiles) before[AnsiUpperCase(file.relative)] = &file;
    for (const auto& directory : previous->directories) {
      directoriesBefore.insert(AnsiUpperCase(directory.relative));
      for (const StagedFile& file : directory.files) before[AnsiUpperCase(file.relative)] = &file;
    }
  }
  size_t carriedFiles = 0;
  // The control given apart is in the new release whatever the tree holds.
  if (!extraTopMember.path.empty()) filesNow.insert(AnsiUpperCase(extraTopMember.relative));
  PlannedArchive deltaArchive{text::kDeltaArchiveFileName, "", {}, {}, {}};
  PlannedArchive wholeFiles{text::kFullFilesArchiveFileName, "", {}, {}, {}};
  // A changed file goes as its delta when that is smaller than the file.
  const auto asDelta = [&](const StagedFile& file, const StagedFile& old) {
    if (!options.deltas || deltaArchive.members.size() == archive::kMaxMembers || file.size > kMaxDeltaFileSize ||
        old.size > kMaxDeltaFileSize) {
      return false;
    }
    const auto oldBytes = files.ReadWholeFile(old.path);
    const auto newBytes = files.ReadWholeFile(file.path);
    if (!oldBytes || !newBytes) return false;
    std::string delta = EncodeDelta(*oldBytes, *newBytes);
    if (delta.size() >= newBytes->size()) return false;
    plan.deltas.push_back({file.relative, file.size, delta.size(), BytesSha256Hex(*oldBytes), BytesSha256Hex(*newBytes)});
    deltaArchive.members.push_back({file.relative, "", delta.size()});
    deltaArchive.memberNames.push_back(file.relative);
    deltaArchive.madeBytes.push_back(std::move(delta));
    if (options.withFullFiles) {
      wholeFiles.members.push_back(file);
      wholeFiles.memberNames.push_back(file.relative);
    }
    return true;
  };
  // Whether the file goes into its directory's archive: new, or changed and not as a delta.
  auto carried = [&](const StagedFile& file) {
    filesNow.insert(AnsiUpperCase(file.relative));
    const auto found = before.find(AnsiUpperCase(file.relative));
    if (found == before.end()) return ++carriedFiles, true;
    if (!SameContent(files, file, *found->second)) return ++carriedFiles, !asDelta(file, *found->second);
    ++plan.unchangedFiles;
    plan.unchangedBytes += file.size;
    return false;
  };

  std::vector<StagedFile> top;
  for (const StagedFile& file : tree.topFiles) {
    if (carried(file)) top.push_back(file);
  }
  if (!extraTopMember.path.empty()) {
    top.push_back(extraTopMember);
    std::sort(top.begin(), top.end(), [](const StagedFile& a, const StagedFile& b) { return ByName(a.relative, b.relative); });
  }
  if (top.size() > archive::kMaxMembers) {
    report.Fail("too-many-members", project.staging, 0,
                std::to_string(top.size()) + " files at the top of the staging directory: they all go into " +
                    text::kMainArchiveFileName +
                    ", the only archive unpacked into the installation directory itself, which holds at most " +
                    std::to_string(archive::kMaxMembers) + "; move some into a sub-directory");
  } else if (!top.empty()) {
    plan.archives.push_back(Archive(text::kMainArchiveFileName, "", std::move(top)));
    CheckLimits(plan.archives.back(), text::kMainArchiveFileName, report);
  }

  unsigned number = 0;
  for (const auto& directory : tree.directories) {
    directoriesNow.insert(AnsiUpperCase(directory.relative));
    if (!previous || !directoriesBefore.count(AnsiUpperCase(directory.relative))) {
      plan.newDirectories.push_back(directory.relative);
    }
    std::vector<StagedFile> changed;
    for (const StagedFile& file : directory.files) {
      if (carried(file)) changed.push_back(file);
    }
    for (auto& part : Split(changed)) {
      char name[32];
      std::snprintf(name, sizeof(name), "dir%03u.slp", ++number);
      plan.archives.push_back(Archive(name, directory.relative, std::move(part)));
      CheckLimits(plan.archives.back(), Shown(project.staging, directory.relative), report);
    }
  }

  for (PlannedArchive* made : {&deltaArchive, &wholeFiles}) {
    if (made->members.empty()) continue;
    plan.archives.push_back(std::move(*made));
    CheckLimits(plan.archives.back(), plan.archives.back().fileName, report);
  }
  if (previous) {
    for (const auto& [key, file] : before) {
      if (!filesNow.count(key)) plan.deleted.push_back(file->relative);
    }
    // Directories after the files they held, the deepest first: each is empty by the time
    // the updater comes to it, unless it holds what the release never shipped.
    for (auto directory = previous->directories.rbegin(); directory != previous->directories.rend(); ++directory) {
      if (!directoriesNow.count(AnsiUpperCase(directory->relative))) plan.deleted.push_back(directory->relative);
    }
    plan.nothingChanged = carriedFiles == 0 && plan.newDirectories.empty() && plan.deleted.empty();
  }
  plan.description =
      DescriptionText(project, plan.newDirectories, plan.archives, plan.deleted, &plan.projectLines, plan.deltas);
  return plan;
}

std::string DescriptionText(const Project& project, const std::vector<std::string>& newDirectories,
                            const std::vector<PlannedArchive>& archives, const std::vector<std::string>& deleted,
                            std::map<int, int>* projectLines, const std::vector<DeltaFile>& deltas) {
  std::string text;
  int written = 0;  // lines so far
  const auto Line = [&text, &written](std::string_view line) {
    text += line;
    text += "\r\n";
    ++written;
  };
  const auto From = [&written, projectLines](int projectLine) {
    if (projectLines) (*projectLines)[written] = projectLine;
  };
  // The header is read by position: lines 2, 17, 19 and 21; the others only hold them apart.
  for (int line = 1; line <= 21; ++line) {
    switch (line) {
      case 1: Line(project.title); break;
      case 2: Line(std::to_string(project.version)); break;
      case 17: Line(std::to_string(project.minFileVersion)); break;
      case 19: Line(std::to_string(project.minInstalledVersion)); break;
      case 21: Line(project.label); break;
      default: Line("");
    }
  }
  if (!newDirectories.empty()) {
    Line("[subdir]");
    for (const std::string& directory : newDirectories) Line(directory);
  }
  bool subArchives = false;
  for (const PlannedArchive& planned : archives) subArchives = subArchives || !planned.subDirectory.empty();
  if (subArchives) {
    Line("[insubdir]");
    // The updater drops the character after the colon, whatever it is: a blank goes there.
    for (const PlannedArchive& planned : archives) {
      if (!planned.subDirectory.empty()) Line(planned.subDirectory + " : " + planned.fileName);
    }
  }
  if (!deltas.empty()) {
    Line(kDeltaSection);
    for (const DeltaFile& delta : deltas) Line(delta.relative + "|" + delta.sourceSha256 + "|" + delta.resultSha256);
  }
  if (!deleted.empty()) {
    Line(kDeleteSection);
    for (const std::string& path : deleted) Line(path);
  }
  // "[programs]" is read only when "[desk]" is there, even empty.
  if (!project.desk.empty() || !project.programs.empty()) {
    Line("[desk]");
    for (const ShortcutEntry& entry : project.desk) {
      Line(entry.target + ": " + entry.name);
      From(entry.line);
    }
  }
  if (!project.programs.empty()) {
    Line("[programs]");
    for (const ShortcutEntry& entry : project.programs) {
      Line(entry.target + ": " + entry.name + "; " + entry.group);
      From(entry.line);
    }
  }
  if (!project.registry.empty()) {
    Line("[reg]");
    for (const RegistryEntry& entry : project.registry) {
      Line(entry.name + ": " + entry.type + "; " + entry.value);
      From(entry.line);
    }
  }
  return text;
}

}  // namespace varno::pack
