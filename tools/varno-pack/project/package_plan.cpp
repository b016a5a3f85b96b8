#include "project/package_plan.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "compression/delta_encoder.h"
#include "host/package_directory.h"
#include "package/archive_layout.h"
#include "platform/portable_sha256.h"
#include "project/name_rules.h"
#include "steps/delete_step.h"
#include "steps/delta_step.h"

namespace varno::pack {
namespace {

// The encoder holds both files, their filtered copies and an index of the previous one:
// about 25 bytes a byte up to 256 KiB (a suffix array), about 6 beyond (an index of blocks).
// A larger file goes whole, named in the summary (PlanOptions::maxDeltaFileSize).

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

// The previous release's file a new file is best made from: one with the same bytes; else
// one with the same name but for its digits (a versioned library: "moteur-252.dll" for
// "moteur-253.dll"), the nearest in size; else one with the same extension and the nearest
// size, within half and twice the new file's.
class SourceFinder {
 public:
  explicit SourceFinder(FileSystem& files) : files_(files) {}
  void Add(const StagedFile& file) {
    bySize_[file.size].push_back(&file);
    byName_[WithoutDigits(file.relative)].push_back(&file);
    const std::string extension = Extension(file.relative);
    if (!extension.empty()) byExtension_[extension].push_back(&file);
  }
  const StagedFile* Best(const StagedFile& file) {
    if (const auto same = bySize_.find(file.size); same != bySize_.end()) {
      const std::string digest = Digest(file);
      for (const StagedFile* candidate : same->second) {
        if (!digest.empty() && Digest(*candidate) == digest) return candidate;
      }
    }
    if (const auto named = byName_.find(WithoutDigits(file.relative)); named != byName_.end()) {
      return Nearest(named->second, file.size, false);
    }
    if (const auto typed = byExtension_.find(Extension(file.relative)); typed != byExtension_.end()) {
      return Nearest(typed->second, file.size, true);
    }
    return nullptr;
  }

 private:
  static std::string BaseNameUpper(const std::string& relative) {
    const size_t slash = relative.find_last_of('\\');
    return AnsiUpperCase(slash == std::string::npos ? relative : relative.substr(slash + 1));
  }
  static std::string WithoutDigits(const std::string& relative) {
    std::string name;
    for (const char c : BaseNameUpper(relative)) {
      if (c < '0' || c > '9') name += c;
    }
    return name;
  }
  static std::string Extension(const std::string& relative) {
    const std::string name = BaseNameUpper(relative);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
  }
  static const StagedFile* Nearest(const std::vector<const StagedFile*>& files, uint64_t size, bool within) {
    const StagedFile* best = nullptr;
    const auto distance = [size](const StagedFile* file) { return file->size > size ? file->size - size : size - file->size; };
    for (const StagedFile* file : files) {
      if (within && (file->size > 2 * size || 2 * file->size < size)) continue;
      if (!best || distance(file) < distance(best)) best = file;
    }
    return best;
  }
  const std::string& Digest(const StagedFile& file) {
    auto [at, added] = digests_.try_emplace(file.path);
    if (added) at->second = FileSha256Hex(files_, file.path).value_or("");
    return at->second;
  }

  FileSystem& files_;
  std::map<uint64_t, std::vector<const StagedFile*>> bySize_;
  std::map<std::string, std::vector<const StagedFile*>> byName_, byExtension_;
  std::map<std::string, std::string> digests_;
};

// The changed files carried as deltas: each whose delta is smaller than the file, the ones
// that save most when there are more than the delta archive holds. Every other changed file
// is carried whole, and plan.carriedWhole says why. changed and chosen receive the
// upper-case paths of the changed files and of those carried as deltas.
void ChooseDeltas(FileSystem& files, const StagingTree& tree, const std::map<std::string, const StagedFile*>& before,
                  const PlanOptions& options, PackagePlan& plan, PlannedArchive& deltaArchive,
                  PlannedArchive& wholeFiles, std::set<std::string>& changed, std::set<std::string>& chosen) {
  struct Candidate {
    const StagedFile* file;
    DeltaFile delta;
    std::string bytes;
  };
  std::vector<Candidate> candidates;
  // The changed files whose delta is to be made, found first so that the progress can say
  // how much there is to do.
  std::vector<std::pair<const StagedFile*, const StagedFile*>> toEncode;
  std::vector<const StagedFile*> fresh;  // without a namesake in the previous release
  uint64_t total = 0;
  const auto consider = [&](const StagedFile& file) {
    const auto found = before.find(AnsiUpperCase(file.relative));
    if (found == before.end()) {
      fresh.push_back(&file);
      return;
    }
    if (SameContent(files, file, *found->second)) return;
    const StagedFile& old = *found->second;
    changed.insert(AnsiUpperCase(file.relative));
    if (!options.deltas) {
      plan.carriedWhole.push_back({file.relative, file.size, "deltas are off for this build"});
      return;
    }
    if (file.size > options.maxDeltaFileSize || old.size > options.maxDeltaFileSize) {
      plan.carriedWhole.push_back({file.relative, file.size,
                                   "over the delta encoder's limit of " + std::to_string(options.maxDeltaFileSize) +
                                       " bytes (" + (file.size > options.maxDeltaFileSize ? "new" : "previous") +
                                       " file: " + std::to_string(std::max(file.size, old.size)) + " bytes)"});
      return;
    }
    toEncode.push_back({&file, &old});
    total += file.size;
  };
  for (const StagedFile& file : tree.topFiles) consider(file);
  for (const auto& directory : tree.directories) {
    for (const StagedFile& file : directory.files) consider(file);
  }
  // A new file is made from a file of the previous release that the package leaves as it
  // is, or removes once the deltas are made: never one it writes before them.
  std::set<std::string> directoriesNow;
  for (const auto& directory : tree.directories) directoriesNow.insert(AnsiUpperCase(directory.relative));
  SourceFinder sources(files);
  for (const auto& [key, file] : before) {
    if (!changed.count(key) && !directoriesNow.count(key) && file->size <= options.maxDeltaFileSize) sources.Add(*file);
  }
  if (options.deltas) {
    for (const StagedFile* file : fresh) {
      if (const StagedFile* source = sources.Best(*file)) {
        toEncode.push_back({file, source});
        total += file->size;
      }
    }
  }
  if (options.progress && !toEncode.empty()) options.progress->Begin("deltas", total);
  for (size_t i = 0; i < toEncode.size(); ++i) {
    const StagedFile& file = *toEncode[i].first;
    const StagedFile& old = *toEncode[i].second;
    uint64_t told = 0;
    const auto advance = [&](double done) {
      const auto now = std::min<uint64_t>(file.size, uint64_t(done * double(file.size)));
      if (options.progress && now > told) options.progress->Advance(now - told);
      told = std::max(told, now);
    };
    if (options.progress) {
      std::string shown = file.relative;
      std::replace(shown.begin(), shown.end(), '\\', '/');
      options.progress->Label("delta " + std::to_string(i + 1) + " of " + std::to_string(toEncode.size()) + ": " +
                              shown);
    }
    auto oldBytes = files.ReadWholeFile(old.path);
    auto newBytes = files.ReadWholeFile(file.path);
    if (!oldBytes || !newBytes) {
      plan.carriedWhole.push_back({file.relative, file.size, "could not be read whole to make its delta"});
      advance(1);
      continue;
    }
    const std::string oldSha = BytesSha256Hex(*oldBytes), newSha = BytesSha256Hex(*newBytes);
    const uint64_t newSize = newBytes->size();
    // The bytes are given up to the encoder, which filters them in place.
    std::string delta = EncodeDelta(std::move(*oldBytes), std::move(*newBytes), std::nullopt, advance);
    oldBytes.reset();
    newBytes.reset();
    advance(1);
    if (delta.size() >= newSize) {
      if (AnsiSameText(file.relative, old.relative)) {
        plan.carriedWhole.push_back({file.relative, file.size,
                                     "its delta (" + std::to_string(delta.size()) + " bytes) is no smaller"});
      }
      continue;
    }
    const bool namesake = AnsiSameText(file.relative, old.relative);
    candidates.push_back({&file,
                          {file.relative, file.size, delta.size(), oldSha, newSha, namesake ? std::string() : old.relative},
                          std::move(delta)});
  }
  if (options.progress && !toEncode.empty()) options.progress->End();
  // The archive holds so many members: they go to the deltas that save most, and keep the
  // tree's order in the archive and the description.
  std::vector<size_t> bySaving(candidates.size());
  for (size_t i = 0; i < bySaving.size(); ++i) bySaving[i] = i;
  const auto saving = [&candidates](size_t i) { return candidates[i].delta.size - candidates[i].delta.deltaSize; };
  std::stable_sort(bySaving.begin(), bySaving.end(), [&](size_t a, size_t b) { return saving(a) > saving(b); });
  std::vector<bool> taken(candidates.size(), false);
  // Identical results of identical files share one member (the updater finds it by the
  // line's two digests).
  const auto pair = [&candidates](size_t i) { return candidates[i].delta.sourceSha256 + candidates[i].delta.resultSha256; };
  std::set<std::string> carried;
  for (size_t rank = 0; rank < bySaving.size(); ++rank) {
    const size_t i = bySaving[rank];
    if (carried.count(pair(i)) || carried.size() < archive::kMaxMembers) {
      carried.insert(pair(i));
      taken[i] = true;
      continue;
    }
    if (!candidates[i].delta.sourceRelative.empty()) continue;  // a new file, carried whole as any
    plan.carriedWhole.push_back({candidates[i].file->relative, candidates[i].file->size,
                                 std::string(text::kDeltaArchiveFileName) + " holds " +
                                     std::to_string(archive::kMaxMembers) + " deltas, each saving more than the " +
                                     std::to_string(saving(i)) + " bytes this one would"});
  }
  std::set<std::string> inArchive;
  for (size_t i = 0; i < candidates.size(); ++i) {
    Candidate& candidate = candidates[i];
    if (!taken[i]) continue;
    chosen.insert(AnsiUpperCase(candidate.file->relative));
    if (inArchive.insert(pair(i)).second) {
      deltaArchive.members.push_back({candidate.file->relative, "", candidate.delta.deltaSize});
      deltaArchive.memberNames.push_back(candidate.file->relative);
      deltaArchive.madeBytes.push_back(std::move(candidate.bytes));
    } else {
      candidate.delta.deltaSize = 0;  // carried by the line with the same digests
    }
    if (options.withFullFiles) {
      wholeFiles.members.push_back(*candidate.file);
      wholeFiles.memberNames.push_back(candidate.file->relative);
    }
    plan.deltas.push_back(std::move(candidate.delta));
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
  std::set<std::string> changed, asDeltas;
  if (previous) ChooseDeltas(files, tree, before, options, plan, deltaArchive, wholeFiles, changed, asDeltas);
  // Whether the file goes into its directory's archive: new, or changed and not as a delta.
  auto carried = [&](const StagedFile& file) {
    filesNow.insert(AnsiUpperCase(file.relative));
    const auto found = before.find(AnsiUpperCase(file.relative));
    if (found == before.end()) return ++carriedFiles, !asDeltas.count(AnsiUpperCase(file.relative));
    if (changed.count(AnsiUpperCase(file.relative))) return ++carriedFiles, !asDeltas.count(AnsiUpperCase(file.relative));
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
    for (const DeltaFile& delta : deltas) {
      Line(delta.relative + "|" + delta.sourceSha256 + "|" + delta.resultSha256 +
           (delta.sourceRelative.empty() ? "" : "|" + delta.sourceRelative));
    }
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
