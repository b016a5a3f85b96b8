#include "commands/extract_command.h"
#include "host/package_directory.h"

#include <algorithm>

#include "base/ansi_text.h"
#include "host/watched_files.h"
#include "package/archive_layout.h"
#include "package/member_stream.h"
#include "platform/detached_platform.h"
#include "steps/archive_extraction.h"
#include "steps/uninstall_record.h"

namespace varno::pack {
namespace {

// Makes every missing level of a directory path. Levels that cannot be made (a drive, a
// share) are passed over; whether the whole path exists in the end is what counts.
bool MakeDirectories(FileSystem& files, const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && !IsPathSeparator(path[i])) continue;
    const std::string level = path.substr(0, i);
    if (!level.empty() && !IsPathSeparator(level.back()) && !files.DirectoryExists(level)) files.MakeDirectory(level);
  }
  return files.DirectoryExists(path);
}

const char* OutcomeName(MemberOutcome outcome) {
  switch (outcome) {
    case MemberOutcome::New: return "new";
    case MemberOutcome::Replaced: return "replaced";
    case MemberOutcome::NotWritten: return "not-written";
  }
  return "";
}

}  // namespace

ExtractResult ExtractArchiveTo(FileSystem& files, const ExtractRequest& request, Progress& progress, Report& report) {
  ExtractResult result;
  const ArchiveCheck check = CheckArchiveFile(files, request.archive);
  if (!check.Valid()) {
    report.Fail("archive-malformed", request.archiveShown, 0,
                "the updater would not recognise this archive and unpack nothing: " + check.problem);
    return result;
  }
  ClearSystemError();
  if (!MakeDirectories(files, request.directory)) {
    report.Fail("directory-unwritable", request.directoryShown, 0, "the directory cannot be made" + SystemReason());
    return result;
  }
  const std::string target = WithoutTrailingBackslash(request.directory) + "\\";
  if (request.makeDirectories) {
    for (const ArchiveMember& member : check.layout.members) {
      const std::string directory = ParentOf(member.name);
      // The names passed the reader's check, so these stay inside the directory.
      if (!directory.empty()) MakeDirectories(files, target + directory);
    }
  }

  // Whether each member's file is there before the extractor comes to it tells a new file
  // from a replaced one; a name met twice finds the file of its first member.
  std::vector<bool> existed;
  std::vector<std::string> seen;
  for (const ArchiveMember& member : check.layout.members) {
    const bool earlier = std::any_of(seen.begin(), seen.end(), [&](const std::string& name) {
      return AnsiSameText(name, member.name);
    });
    existed.push_back(earlier || files.FileExists(target + member.name));
    seen.push_back(member.name);
  }

  WatchedFiles watched(files, progress);
  DetachedPlatform detached(watched);  // the extractor's only message box must not reach a screen
  WriteLogList record;
  record.Append(record::kSurFile);
  uint64_t total = 0;
  for (const ArchiveMember& member : check.layout.members) total += member.size;
  progress.Begin("extracting " + request.archiveShown, total);
  const ArchiveOutcome outcome = ExtractArchive(detached.platform(), request.archive, target, record, 1);
  progress.End();
  if (Interrupted()) {
    report.Fail("interrupted", request.archiveShown, 0, "interrupted: the members not yet written were left out");
  } else if (outcome.refused) {
    report.Fail("archive-malformed", request.archiveShown, 0,
                "the archive changed while it was unpacked and is no longer recognised");
    return result;
  }

  for (size_t i = 0; i < check.layout.members.size(); ++i) {
    const ArchiveMember& member = check.layout.members[i];
    MemberOutcome shown = MemberOutcome::NotWritten;
    const MemberResult written = i < outcome.members.size() ? outcome.members[i].result : MemberResult::NotWritten;
    if (written == MemberResult::Written) {
      shown = existed[i] ? MemberOutcome::Replaced : MemberOutcome::New;
    } else if (!Interrupted()) {
      const std::string which = "member " + std::to_string(i + 1) + " \"" + member.name + "\" was not written: ";
      std::optional<std::string> damage;
      if (member.method != archive::kStored) {
        if (auto input = files.OpenForReading(request.archive)) damage = CheckMemberBytes(*input, member);
      }
      if (damage) {
        report.Fail("member-corrupt", request.archiveShown, 0,
                    which + "its compressed bytes cannot be unpacked: " + *damage +
                        " (the updater fails the run on it and restores the installation)");
      } else if (written == MemberResult::NoDirectory) {
        report.Warn("member-not-written", request.archiveShown, 0,
                    which + "the directory \"" + ParentOf(member.name) +
                        "\" does not exist, and the updater makes none (--make-dirs makes them here)");
      } else {
        report.Warn("member-not-written", request.archiveShown, 0,
                    which + "its file cannot be replaced (read-only, in use, or a directory)");
      }
    }
    result.members.push_back({member.name, member.size, shown});
  }
  result.unpacked = !Interrupted();
  return result;
}

Json ExtractJson(const ExtractRequest& request, const ExtractResult& result, const Report& report) {
  Json document = ReportJson("extract", report);
  document["archive"] = JsonText(request.archiveShown);
  document["directory"] = JsonText(request.directoryShown);
  Json members = Json::array();
  size_t index = 0;
  for (const ExtractResult::Member& member : result.members) {
    Json item;
    item["index"] = ++index;
    item["name"] = JsonText(member.name);
    item["size"] = member.size;
    item["outcome"] = OutcomeName(member.outcome);
    members.push_back(std::move(item));
  }
  document["members"] = std::move(members);
  return document;
}

void PrintExtracted(const ExtractResult& result) {
  std::string text;
  for (const ExtractResult::Member& member : result.members) {
    std::string outcome = OutcomeName(member.outcome);
    outcome.resize(12, ' ');
    text += outcome + member.name + " (" + std::to_string(member.size) + " bytes)\n";
  }
  PrintText(stdout, text);
}

}  // namespace varno::pack
