#include "commands/create_command.h"

#include <algorithm>

#include "base/ansi_text.h"
#include "compression/member_compressor.h"
#include "host/package_directory.h"
#include "host/watched_files.h"
#include "package/archive_layout.h"
#include "package/archive_writer.h"
#include "project/name_rules.h"

namespace varno::pack {
namespace {

std::string Which(size_t index, const CreateMember& member) {
  return "member " + std::to_string(index + 1) + " (" + member.argument + ")";
}

}  // namespace

MemberArgument ParseMemberArgument(std::string_view argument) {
  MemberArgument member;
  const size_t equals = argument.find('=');
  if (equals != std::string_view::npos) {
    member.name = argument.substr(0, equals);
    member.path = argument.substr(equals + 1);
  } else {
    member.path = argument;
    std::string_view name = argument;
    while (name.starts_with("./") || name.starts_with(".\\")) name.remove_prefix(2);
    member.name = name;
  }
  std::replace(member.name.begin(), member.name.end(), '/', '\\');
  return member;
}

CreateResult CreateArchive(FileSystem& files, const CreateRequest& request, Progress& progress, Report& report) {
  CreateResult result;
  const std::string& archive = request.archiveShown;
  if (request.members.empty()) {
    report.Fail("no-members", archive, 0, "no member to put in the archive");
    return result;
  }
  if (request.members.size() > archive::kMaxMembers) {
    report.Fail("too-many-members", archive, 0,
                std::to_string(request.members.size()) + " members: the updater unpacks no archive of more than " +
                    std::to_string(archive::kMaxMembers));
  }

  WatchedFiles watched(files, progress);
  std::vector<ArchiveSource> sources;
  std::vector<std::string> paths;
  for (size_t i = 0; i < request.members.size(); ++i) {
    const CreateMember& member = request.members[i];
    if (auto problem = CheckMemberName(member.name)) {
      report.Fail("name-refused", archive, 0,
                  Which(i, member) + ": the name \"" + member.name + "\" " + *problem +
                      "; the updater would refuse the whole archive (give another name with NAME=PATH)");
    } else if (auto windows = CheckInstalledPath(member.name)) {
      report.Fail("name-refused", archive, 0,
                  Which(i, member) + ": the name \"" + member.name + "\" " + *windows +
                      "; Windows would not keep the file under that name (give another name with NAME=PATH)");
    }
    for (size_t j = 0; j < i; ++j) {
      if (AnsiSameText(request.members[j].name, member.name)) {
        report.Warn("duplicate-name", archive, 0,
                    Which(i, member) + " has the name of member " + std::to_string(j + 1) +
                        ": the updater unpacks both and keeps the later one");
        break;
      }
    }
    if (files.DirectoryExists(member.path)) {
      report.Fail("source-unreadable", archive, 0, Which(i, member) + ": " + member.argument + " is a directory");
      continue;
    }
    ClearSystemError();
    auto source = MemberFromFile(watched, member.name, member.path);
    if (!source) {
      report.Fail("source-unreadable", archive, 0,
                  Which(i, member) + ": " + member.argument + " cannot be opened" + SystemReason());
      continue;
    }
    result.members.push_back({member.name, source->size, member.argument});
    sources.push_back(std::move(*source));
    paths.push_back(member.path);
  }
  if (report.HasErrors()) return result;
  if (auto problem = CheckArchiveSources(sources)) {
    report.Fail("archive-limits", archive, 0, *problem);
    return result;
  }

  uint64_t total = 0;
  for (const ArchiveSource& source : sources) total += source.size;
  if (request.compress) progress.Begin("compressing " + archive, total);
  const bool compressed = !request.compress || CompressSources(files, sources, paths, progress);
  progress.End();
  if (!compressed) {
    report.Fail("interrupted", archive, 0, "interrupted: the archive was not written");
    return result;
  }
  for (size_t i = 0; i < sources.size(); ++i) result.members[i].storedSize = sources[i].StoredSize();

  progress.Begin("creating " + archive, total);
  ClearSystemError();
  auto problem = WriteArchive(watched, request.archive, sources, kLeadByte);
  const std::string reason = SystemReason();
  progress.End();
  if (Interrupted()) {
    report.Fail("interrupted", archive, 0, "interrupted: the archive was not written");
  } else if (problem) {
    report.Fail("write-failed", archive, 0, *problem + reason + "; the archive was not written");
  } else {
    result.written = true;
    if (auto file = files.OpenForReading(request.archive)) result.archiveSize = file->Size();
  }
  return result;
}

Json CreateJson(const CreateRequest& request, const CreateResult& result, const Report& report) {
  Json document = ReportJson("create", report);
  document["archive"] = JsonText(request.archiveShown);
  document["written"] = result.written;
  document["size"] = result.archiveSize;
  document["leadByte"] = static_cast<unsigned char>(kLeadByte);
  Json members = Json::array();
  for (const CreateResult::Member& member : result.members) {
    Json item;
    item["name"] = JsonText(member.name);
    item["size"] = member.size;
    item["storedSize"] = member.storedSize;
    item["source"] = JsonText(member.argument);
    members.push_back(std::move(item));
  }
  document["members"] = std::move(members);
  return document;
}

void PrintCreated(const CreateRequest& request, const CreateResult& result) {
  if (!result.written) return;
  PrintText(stdout, request.archiveShown + ": " + std::to_string(result.members.size()) + " member" +
                        (result.members.size() == 1 ? "" : "s") + ", " + std::to_string(result.archiveSize) +
                        " bytes\n");
}

}  // namespace varno::pack
