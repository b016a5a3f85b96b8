#include "commands/build_command.h"

#include <algorithm>
#include <map>
#include <memory>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "commands/check_command.h"
#include "commands/create_command.h"
#include "compression/member_compressor.h"
#include "host/host_text.h"
#include "host/package_directory.h"
#include "host/watched_files.h"
#include "package/archive_writer.h"
#include "package/package_header.h"
#include "package/package_manifest.h"
#include "project/name_rules.h"
#include "project/package_plan.h"
#include "project/project_file.h"

namespace varno::pack {
namespace {

constexpr char kControlName[] = "Varxxlith.ocx";

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() > 1 && path[1] == ':');
}

// A Windows path with its "." and ".." components resolved, in upper case: two spellings
// of one place compare equal.
std::string PlaceKey(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('\\', start);
    const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(AnsiUpperCase(part));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string key;
  for (const std::string& part : parts) key += part + "\\";
  return key;
}

bool IsWithin(const std::string& path, const std::string& directory) {
  return PlaceKey(path).starts_with(PlaceKey(directory));
}

std::string DirectoryOf(const std::string& shown) {
  const size_t slash = shown.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? shown.substr(0, 1) : shown.substr(0, slash);
}

std::string BaseName(const std::string& shown) {
  const size_t slash = shown.find_last_of("/\\");
  return slash == std::string::npos ? shown : shown.substr(slash + 1);
}

// Removes a directory that holds files only (a package, or one being built).
void RemovePackageDirectory(FileSystem& files, const std::string& path) {
  std::vector<std::string> names;
  auto listing = files.ListMatching(path + "\\*");
  while (auto entry = listing->Next()) {
    if (!entry->isDirectory) names.push_back(entry->name);
  }
  for (const std::string& name : names) files.RemoveFile(path + "\\" + name);
  RemoveEmptyDirectory(path);
}

// A name beside the destination that nothing holds yet.
std::string FreeNameBeside(FileSystem& files, const std::string& destination, const char* purpose) {
  for (int attempt = 1; attempt < 1000; ++attempt) {
    const std::string candidate = destination + "." + purpose + std::to_string(attempt);
    if (!files.DirectoryExists(candidate) && !files.FileExists(candidate)) return candidate;
  }
  return {};
}

// Whether the destination can take the new package: missing or empty, or an earlier
// package (files only, a description among them) when the user said to replace it. A
// package is never replaced unasked: it may be a release already handed out. Anything
// else may be someone's work and is never replaced.
bool DestinationFree(FileSystem& files, const std::string& destination, const std::string& shown, bool force,
                     Report& report) {
  if (files.FileExists(destination)) {
    report.Fail("destination-refused", shown, 0, "is a file, not a package directory");
    return false;
  }
  if (!files.DirectoryExists(destination)) return true;
  bool empty = true, description = false, subDirectory = false;
  auto listing = files.ListMatching(destination + "\\*");
  while (auto entry = listing->Next()) {
    empty = false;
    subDirectory = subDirectory || entry->isDirectory;
    description = description || AnsiSameText(entry->name, text::kDescriptionFileName);
  }
  if (empty) return true;
  if (!description || subDirectory) {
    report.Fail("destination-refused", shown, 0,
                "holds something other than a package; it is left as it is (give a new or empty directory)");
    return false;
  }
  if (force) return true;
  const auto bytes = files.ReadWholeFile(JoinPath(destination, text::kDescriptionFileName));
  const std::string version = bytes ? ParsePackageHeader(*bytes).newVersion : std::string();
  const bool signedPackage = files.FileExists(JoinPath(destination, kSignatureFileName));
  report.Fail("destination-exists", shown, 0,
              "holds a package already (version " + (version.empty() ? std::string("unknown") : version) + ", " +
                  (signedPackage ? "signed" : "not signed") + "); it is left as it is: give --force to replace it");
  return false;
}

// A finding of the check on a description line written from an entry of the project file
// is told at that entry: the author never sees the description's line numbers.
void ReportWhereWritten(const Report& found, const std::map<int, int>& projectLines, const std::string& projectShown,
                        Report& report) {
  for (const Finding& finding : found.Findings()) {
    std::string file = finding.file;
    int line = finding.line;
    std::string message = finding.message;
    const auto entry = projectLines.find(finding.line);
    if (AnsiSameText(finding.file, text::kDescriptionFileName) && entry != projectLines.end()) {
      file = projectShown;
      line = entry->second;
      message += " (" + std::string(text::kDescriptionFileName) + ":" + std::to_string(finding.line) + ")";
    }
    if (finding.severity == Severity::Error) {
      report.Fail(finding.code, file, line, message);
    } else {
      report.Warn(finding.code, file, line, message);
    }
  }
}

// A name whose case alone changed since the previous release: for Windows the file or
// directory is the same one, and the update renames nothing, so installations go on
// showing the old name. Said, as nothing in the package shows it.
void ReportCaseOnlyRenames(const StagingTree& tree, const StagingTree& previous, const std::string& stagingShown,
                           const std::string& previousShown, Report& report) {
  std::map<std::string, std::string> before;
  for (const StagedFile& file : previous.topFiles) before[AnsiUpperCase(file.relative)] = file.relative;
  for (const auto& directory : previous.directories) {
    before[AnsiUpperCase(directory.relative)] = directory.relative;
    for (const StagedFile& file : directory.files) before[AnsiUpperCase(file.relative)] = file.relative;
  }
  const auto compare = [&](const std::string& relative) {
    const auto found = before.find(AnsiUpperCase(relative));
    if (found == before.end() || BaseName(found->second) == BaseName(relative)) return;
    std::string shown = stagingShown + "/" + relative, old = previousShown + "/" + found->second;
    std::replace(shown.begin(), shown.end(), '\\', '/');
    std::replace(old.begin(), old.end(), '\\', '/');
    report.Warn("case-only-rename", shown, 0,
                "was " + old + ", a change of case only: Windows takes both for one name and the update renames "
                "nothing, so installations keep the old case (a changed file may take the new one when replaced)");
  };
  for (const StagedFile& file : tree.topFiles) compare(file.relative);
  for (const auto& directory : tree.directories) {
    compare(directory.relative);
    for (const StagedFile& file : directory.files) compare(file.relative);
  }
}

// What one build carries from phase to phase. The paths are Windows paths; each "Shown" is
// the same place as the user wrote it, for the findings.
struct Build {
  Build(FileSystem& files, const BuildRequest& request, Progress& progress, Report& report)
      : files(files), request(request), progress(progress), report(report) {}

  FileSystem& files;
  const BuildRequest& request;
  Progress& progress;
  Report& report;
  Project project;
  std::string base;  // the project file's directory: its relative paths start there
  std::string stagingShown, staging;
  std::string updaterShown, updater, updaterName;
  std::string destination;
  std::string building;  // the directory beside the destination the package is written in
  StagingTree tree;
  std::unique_ptr<StagingTree> previous;  // --since
  std::string control;                    // the control's path; empty when there is none
  StagedFile extraMember;                 // the control, when files.control names it
  PackagePlan plan;

  std::string ShownOf(const std::string& path) const { return IsAbsolute(path) ? path : base + "/" + path; }
};

bool ReadProjectFile(Build& build) {
  const std::string& projectShown = build.request.projectShown;
  ClearSystemError();
  const auto bytes = build.files.ReadWholeFile(build.request.windowsPath(projectShown));
  if (!bytes) {
    build.report.Fail("project-unreadable", projectShown, 0, "the project file cannot be read" + SystemReason());
    return false;
  }
  auto project = ParseProject(*bytes, projectShown, build.report);
  if (!project) return false;
  build.project = std::move(*project);
  build.base = DirectoryOf(projectShown);
  return true;
}

bool FindStaging(Build& build) {
  build.stagingShown = build.ShownOf(build.project.staging);
  build.staging = build.request.windowsPath(build.stagingShown);
  if (build.files.DirectoryExists(build.staging)) return true;
  build.report.Fail("staging-missing", build.request.projectShown, 0,
                    "files.staging: " + build.stagingShown + " is not a directory");
  return false;
}

void CheckUpdater(Build& build) {
  build.updaterShown = build.ShownOf(build.project.updater);
  build.updater = build.request.windowsPath(build.updaterShown);
  build.updaterName = BaseName(build.updaterShown);
  const std::string& name = build.updaterName;
  if (!build.files.FileExists(build.updater)) {
    build.report.Fail("updater-missing", build.request.projectShown, 0,
                      "files.updater: " + build.updaterShown + " is not a file");
  } else if (auto problem = CheckInstalledName(name, false)) {
    build.report.Fail("name-refused", build.updaterShown, 0, "the updater's name " + *problem);
  } else if (AnsiSameText(name, text::kDescriptionFileName) || AnsiSameText(name, kControlName) ||
             AnsiUpperCase(name).ends_with(".SLP")) {
    build.report.Fail("name-refused", build.updaterShown, 0,
                      "the updater's name is one the package needs for its own files");
  }
}

bool CheckDestination(Build& build) {
  build.destination = WithoutTrailingBackslash(build.request.windowsPath(build.request.packageShown));
  // A link on the way (or the staging directory reached through one) must not hide that
  // the package would land in the tree it is read from: the real places are compared.
  if (!IsWithin(build.destination, build.staging) &&
      !IsWithin(RealPlace(build.destination), RealPlace(build.staging))) {
    return true;
  }
  build.report.Fail("destination-refused", build.request.packageShown, 0,
                    "lies inside the staging directory " + build.stagingShown +
                        ": the package would be read into itself");
  return false;
}

void ReportHostTreeProblems(Build& build) {
  const Project& project = build.project;
  const auto excluded = [&project](const std::string& relative, const std::string& name) {
    return Excluded(project.exclude, relative, name);
  };
  const HostTreeProblems host = FindHostTreeProblems(build.staging, excluded);
  const std::string& stagingShown = build.stagingShown;
  Report& report = build.report;
  for (const std::string& name : host.unwritableNames) {
    const std::string leaf = name.substr(name.find_last_of('/') + 1);
    report.FailInHostText("name-refused", HostText(stagingShown) + "/" + name,
                          "the name's " + UnwritableCharacter(leaf) + ", the updater's code page");
  }
  for (const std::string& link : host.linksLeaving) {
    report.Fail("link-leaves-staging", stagingShown + "/" + link, 0,
                "is a link to something outside the staging directory (or to nothing): it is not followed; copy "
                "the file into the staging directory, or exclude the link");
  }
  // A link inside the tree reaches the package as a copy of what it points to: said for a
  // file, refused for a directory, which would ship twice under two names.
  for (const HostTreeProblems::InsideLink& link : host.linksInside) {
    if (link.toDirectory) {
      report.FailInHostText("link-to-directory", HostText(stagingShown) + "/" + link.link,
                            "is a link to the directory " + link.target +
                                " of the staging tree, which would ship twice; exclude the link or remove it");
    } else {
      report.Warn("link-copied", stagingShown + "/" + Utf8ToCp1252(link.link).value_or(link.link), 0,
                  "is a link to " + Utf8ToCp1252(link.target).value_or(link.target) +
                      " of the staging tree: the package carries a copy of that file under the link's name");
    }
  }
}

// The staging tree read, and each of its paths measured against the installation's.
void ReadStaging(Build& build) {
  build.tree = ReadStagingTree(build.files, build.staging, build.stagingShown, build.project.exclude, build.report);
  const auto checkLength = [&build](const std::string& relative) {
    if (auto problem = CheckPathLength(relative, build.project.installDirLength)) {
      std::string shown = build.stagingShown + "/" + relative;
      std::replace(shown.begin(), shown.end(), '\\', '/');
      build.report.Fail("path-too-long", shown, 0, "its path in the installation " + *problem);
    }
  };
  for (const StagedFile& file : build.tree.topFiles) checkLength(file.relative);
  for (const auto& directory : build.tree.directories) {
    checkLength(directory.relative);
    for (const StagedFile& file : directory.files) checkLength(file.relative);
  }
}

// --since: the previous release's staging tree, which the plan compares with this one.
void ReadPreviousRelease(Build& build) {
  const std::string& previousShown = build.request.previousShown;
  if (previousShown.empty()) return;
  const std::string previousPath = build.request.windowsPath(previousShown);
  if (!build.files.DirectoryExists(previousPath)) {
    build.report.Fail("staging-missing", previousShown, 0, "--since: not a directory");
  } else if (build.files.FileExists(JoinPath(previousPath, text::kDescriptionFileName))) {
    // A package holds archives, not the tree they came from: compared with it, every
    // file would look new and every file of the tree removed.
    build.report.Fail("since-is-package", previousShown, 0,
                      "--since: is a package (it holds " + std::string(text::kDescriptionFileName) +
                          "); give the previous release's staging directory");
  } else {
    Report ignored;  // names the previous release could not carry were never installed
    build.previous = std::make_unique<StagingTree>(
        ReadStagingTree(build.files, previousPath, previousShown, build.project.exclude, ignored));
    ReportCaseOnlyRenames(build.tree, *build.previous, build.stagingShown, previousShown, build.report);
  }
}

// The updater registers the control from the installation directory, so it travels in the
// main archive, and beside the updater as a package always has it.
void FindControl(Build& build) {
  const StagedFile* stagedControl = nullptr;
  for (const StagedFile& file : build.tree.topFiles) {
    if (AnsiSameText(file.relative, kControlName)) stagedControl = &file;
  }
  if (!build.project.control.empty()) {
    const std::string controlShown = build.ShownOf(build.project.control);
    build.control = build.request.windowsPath(controlShown);
    auto file = build.files.OpenForReading(build.control);
    if (!file) {
      build.report.Fail("control-missing", build.request.projectShown, 0,
                        "files.control: " + controlShown + " is not a readable file");
    } else if (stagedControl) {
      build.report.Fail("control-twice", build.request.projectShown, 0,
                        "files.control: the staging directory has its own " + std::string(kControlName) +
                            "; leave files.control out or remove one of them");
    } else {
      build.extraMember = {kControlName, build.control, file->Size()};
    }
  } else if (stagedControl) {
    build.control = stagedControl->path;
  }
}

bool PlanArchives(Build& build) {
  PlanOptions planOptions;
  planOptions.withFullFiles = build.request.withFullFiles;
  planOptions.progress = &build.progress;
  planOptions.maxDeltaFileSize = build.request.maxDeltaFileSize;
  build.plan = PlanPackage(build.files, build.project, build.tree, build.extraMember, build.previous.get(),
                           build.report, planOptions);
  return !build.report.HasErrors();
}

// The directory beside the destination that the package is written in, once the
// destination is known to take it.
bool MakeBuildingDirectory(Build& build) {
  const BuildRequest& request = build.request;
  if (!DestinationFree(build.files, build.destination, request.packageShown, request.force, build.report)) {
    return false;
  }
  RemoveLeftovers(build.files, build.destination);
  build.building = FreeNameBeside(build.files, build.destination, "building");
  ClearSystemError();
  if (build.building.empty() || !build.files.MakeDirectory(build.building)) {
    build.report.Fail("write-failed", request.packageShown, 0,
                      "no directory can be made beside it to build the package in" + SystemReason());
    return false;
  }
  return true;
}

// The description, the archives, the updater and the control, written into the building
// directory under the progress meter; what failed, or "" when all was written.
std::string WritePackage(Build& build, BuildResult& result) {
  FileSystem& files = build.files;
  const PackagePlan& plan = build.plan;
  const bool compress = build.request.compress;
  WatchedFiles watched(files, build.progress);
  uint64_t total = plan.description.size() + files.OpenForReading(build.updater)->Size();
  for (const PlannedArchive& planned : plan.archives) {
    // Compressing reads every member once more.
    for (const StagedFile& member : planned.members) total += member.size * (compress ? 2 : 1);
  }
  build.progress.Begin("building " + build.request.packageShown, total);
  std::string failure;
  ClearSystemError();
  if (!watched.ReplaceWholeFile(JoinPath(build.building, text::kDescriptionFileName), plan.description)) {
    failure = std::string(text::kDescriptionFileName) + " cannot be written" + SystemReason();
  }
  for (const PlannedArchive& planned : plan.archives) {
    if (!failure.empty()) break;
    std::vector<ArchiveSource> sources;
    std::vector<std::string> paths;
    for (size_t i = 0; i < planned.members.size(); ++i) {
      const StagedFile& member = planned.members[i];
      if (!planned.madeBytes.empty()) {
        sources.push_back(MemberFromBytes(planned.memberNames[i], planned.madeBytes[i]));
        continue;
      }
      // Sizes were taken when the tree was read; a file that changes meanwhile fails the write.
      sources.push_back({planned.memberNames[i], member.size,
                         [&watched, path = member.path] { return watched.OpenForReading(path); }});
      paths.push_back(member.path);
    }
    // Deltas are deflated already.
    if (compress && planned.madeBytes.empty() && !CompressSources(files, sources, paths, build.progress)) break;
    ClearSystemError();
    if (auto problem = WriteArchive(watched, JoinPath(build.building, planned.fileName), sources, kLeadByte)) {
      failure = planned.fileName + ": " + *problem + SystemReason();
    }
    BuildResult::Archive written{planned.fileName, planned.subDirectory, planned.members.size(), 0};
    for (const StagedFile& member : planned.members) written.size += member.size;
    result.files += planned.members.size();
    result.bytes += written.size;
    result.archives.push_back(std::move(written));
  }
  if (failure.empty()) {
    ClearSystemError();
    if (!watched.CopyFileTo(build.updater, JoinPath(build.building, build.updaterName))) {
      failure = build.updaterShown + " cannot be copied" + SystemReason();
    }
    result.copied.push_back(build.updaterName);
  }
  if (failure.empty() && !build.control.empty()) {
    ClearSystemError();
    if (!watched.CopyFileTo(build.control, JoinPath(build.building, kControlName))) {
      failure = "the control cannot be copied" + SystemReason();
    }
    result.copied.push_back(kControlName);
  }
  build.progress.End();
  return failure;
}

// The written package checked as "check" checks it, then signed: the signature covers the
// bytes that were checked, and is the last thing written. Nothing is checked of a package
// that was not written whole.
void CheckAndSign(Build& build, const std::string& failure, BuildResult& result) {
  const BuildRequest& request = build.request;
  if (Interrupted()) {
    build.report.Fail("interrupted", request.packageShown, 0, "interrupted: the package was not written");
    return;
  }
  if (!failure.empty()) {
    build.report.Fail("write-failed", request.packageShown, 0, failure + "; the package was not written");
    return;
  }
  CheckRequest check;
  check.packageDir = build.building;
  check.packageShown = request.packageShown;
  check.currentYear = request.currentYear;
  check.regional = request.regional;
  check.installDirLength = build.project.installDirLength;
  Report found;
  CheckPackage(build.files, check, found);
  ReportWhereWritten(found, build.plan.projectLines, request.projectShown, build.report);
  if (!build.report.HasErrors() && request.sign) {
    result.signedPackage = request.sign(build.files, build.building, build.report);
  }
}

// A package without errors is renamed into place, an earlier one moved aside first and
// removed once the new one is there; whatever was not put in place is removed.
void PutInPlace(Build& build, BuildResult& result) {
  FileSystem& files = build.files;
  Report& report = build.report;
  const std::string& shown = build.request.packageShown;
  if (!report.HasErrors()) {
    std::string aside;
    if (files.DirectoryExists(build.destination)) {
      aside = FreeNameBeside(files, build.destination, "previous");
      ClearSystemError();
      if (aside.empty() || !RenameDirectory(build.destination, aside)) {
        report.Fail("write-failed", shown, 0, "the earlier package there cannot be moved aside" + SystemReason());
      }
    }
    ClearSystemError();
    if (!report.HasErrors() && !RenameDirectory(build.building, build.destination)) {
      report.Fail("write-failed", shown, 0, "the built package cannot be renamed into place" + SystemReason());
      if (!aside.empty()) RenameDirectory(aside, build.destination);
    } else if (!report.HasErrors()) {
      result.written = true;
      if (!aside.empty()) RemovePackageDirectory(files, aside);
    }
  }
  if (!result.written) RemovePackageDirectory(files, build.building);
}

// What --since left out, removed and carried as deltas, for the summary.
void TellWhatChanged(const Build& build, BuildResult& result) {
  const PackagePlan& plan = build.plan;
  result.since = build.previous != nullptr;
  result.unchangedFiles = plan.unchangedFiles;
  result.unchangedBytes = plan.unchangedBytes;
  result.deleted = plan.deleted;
  result.nothingChanged = plan.nothingChanged;
  result.carriedWhole = plan.carriedWhole;
  for (const DeltaFile& delta : plan.deltas) {
    ++result.deltaFiles;
    result.deltaFileBytes += delta.size;
    result.deltaBytes += delta.deltaSize;
  }
}

}  // namespace

// The phases in order. Reading the inputs goes on past a mistake, so that every mistake of
// the project and its tree is told at once, except where nothing further can be read (no
// project, no staging directory, a destination inside it); nothing is written unless they
// are all clean. Once made, the building directory is removed unless the package was put
// in place.
BuildResult BuildPackage(FileSystem& files, const BuildRequest& request, Progress& progress, Report& report) {
  BuildResult result;
  Build build(files, request, progress, report);
  if (!ReadProjectFile(build) || !FindStaging(build)) return result;
  CheckUpdater(build);
  if (!CheckDestination(build)) return result;
  ReportHostTreeProblems(build);
  ReadStaging(build);
  ReadPreviousRelease(build);
  FindControl(build);
  if (report.HasErrors() || !PlanArchives(build) || !MakeBuildingDirectory(build)) return result;
  const std::string failure = WritePackage(build, result);
  CheckAndSign(build, failure, result);
  PutInPlace(build, result);
  TellWhatChanged(build, result);
  return result;
}

Json BuildJson(const BuildRequest& request, const BuildResult& result, const Report& report) {
  Json document = ReportJson("build", report);
  document["project"] = JsonText(request.projectShown);
  document["package"] = JsonText(request.packageShown);
  document["written"] = result.written;
  document["signed"] = result.signedPackage;
  Json archives = Json::array();
  for (const BuildResult::Archive& archive : result.archives) {
    Json item;
    item["file"] = JsonText(archive.fileName);
    item["directory"] = JsonText(archive.subDirectory);
    item["members"] = archive.members;
    item["bytes"] = archive.size;
    archives.push_back(std::move(item));
  }
  document["archives"] = std::move(archives);
  Json copied = Json::array();
  for (const std::string& name : result.copied) copied.push_back(JsonText(name));
  document["copied"] = std::move(copied);
  document["files"] = result.files;
  document["bytes"] = result.bytes;
  if (result.since) {
    Json since;
    since["previous"] = JsonText(request.previousShown);
    since["unchangedFiles"] = result.unchangedFiles;
    since["unchangedBytes"] = result.unchangedBytes;
    Json deleted = Json::array();
    for (const std::string& path : result.deleted) deleted.push_back(JsonText(path));
    since["deleted"] = std::move(deleted);
    since["nothingChanged"] = result.nothingChanged;
    since["deltaFiles"] = result.deltaFiles;
    since["deltaFileBytes"] = result.deltaFileBytes;
    since["deltaBytes"] = result.deltaBytes;
    Json whole = Json::array();
    for (const WholeChange& change : result.carriedWhole) {
      Json item;
      item["path"] = JsonText(change.relative);
      item["bytes"] = change.size;
      item["reason"] = JsonText(change.reason);
      whole.push_back(std::move(item));
    }
    since["carriedWhole"] = std::move(whole);
    document["since"] = std::move(since);
  } else {
    document["since"] = nullptr;
  }
  return document;
}

void PrintBuilt(const BuildRequest& request, const BuildResult& result, const Report& report) {
  if (!result.written) {
    const size_t errors = report.Count(Severity::Error), warnings = report.Count(Severity::Warning);
    PrintText(stdout, request.packageShown + ": not written, " + std::to_string(errors) + " error" +
                          (errors == 1 ? "" : "s") + ", " + std::to_string(warnings) + " warning" +
                          (warnings == 1 ? "" : "s") + "\n");
    return;
  }
  PrintText(stdout, request.packageShown + ": " + std::to_string(result.files) + " file" +
                        (result.files == 1 ? "" : "s") + " (" + std::to_string(result.bytes) + " bytes) in " +
                        std::to_string(result.archives.size()) + " archive" +
                        (result.archives.size() == 1 ? "" : "s") + ", checked" +
                        (result.signedPackage ? " and signed" : "") + "\n");
  if (!result.since) return;
  if (result.nothingChanged) {
    PrintText(stdout, "since " + request.previousShown + ": nothing changed in the staging directory; the package "
                      "carries none of its files\n");
    return;
  }
  PrintText(stdout, "since " + request.previousShown + ": " + std::to_string(result.unchangedFiles) +
                        " unchanged file" + (result.unchangedFiles == 1 ? "" : "s") + " left out, " +
                        std::to_string(result.unchangedBytes) + " bytes saved; " +
                        std::to_string(result.deleted.size()) + " removed by the package ([delete])\n");
  if (result.deltaFiles > 0) {
    PrintText(stdout, "deltas: " + std::to_string(result.deltaFiles) + " changed file" +
                          (result.deltaFiles == 1 ? "" : "s") + " of " + std::to_string(result.deltaFileBytes) +
                          " bytes carried as " + std::to_string(result.deltaBytes) + " bytes (" +
                          std::to_string(result.deltaFileBytes ? 100 * result.deltaBytes / result.deltaFileBytes : 0) +
                          " %)\n");
  }
  for (const WholeChange& change : result.carriedWhole) {
    std::string path = change.relative;
    std::replace(path.begin(), path.end(), '\\', '/');
    PrintText(stdout, "  whole: " + path + " (" + std::to_string(change.size) + " bytes): " + change.reason + "\n");
  }
  // By their path in the previous release, the only place they still are.
  for (std::string path : result.deleted) {
    std::replace(path.begin(), path.end(), '\\', '/');
    PrintText(stdout, "  removed: " + request.previousShown + "/" + path + "\n");
  }
}

bool InitProject(FileSystem& files, const std::string& directory, const std::string& directoryShown, Report& report) {
  const std::string shown = directoryShown + "/" + kProjectFileName;
  if (!files.DirectoryExists(directory) && !files.MakeDirectory(directory)) {
    report.Fail("write-failed", directoryShown, 0, "the directory cannot be made");
    return false;
  }
  const std::string path = JoinPath(directory, kProjectFileName);
  if (files.FileExists(path) || files.DirectoryExists(path)) {
    report.Fail("project-exists", shown, 0, "a project file is there already; it is left as it is");
    return false;
  }
  if (!files.ReplaceWholeFile(path, ProjectTemplate())) {
    report.Fail("write-failed", shown, 0, "the project file cannot be written");
    return false;
  }
  return true;
}

}  // namespace varno::pack
