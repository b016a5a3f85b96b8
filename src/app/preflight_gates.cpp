#include "app/preflight_gates.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "platform/message_boxes.h"

namespace varno {
namespace {

// What is needed is rounded up, what is free down, so the figures never hide the shortfall.
std::string MebibytesNeeded(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20); }
std::string MebibytesFree(uint64_t bytes) { return std::to_string(bytes >> 20); }

std::string FilesInUseQuestion(const std::vector<std::string>& inUse, const std::vector<FileHolder>& found) {
  std::vector<std::string> names;
  for (const FileHolder& holder : found) names.push_back(DescribeHolder(holder));
  return FormatText(text::kFilesInUseByPrograms, {JoinTexts(inUse, "\r"), JoinTexts(names, "\r")});
}

}  // namespace

bool WaitForFilesInUse(Platform& platform, const PlannedWrites& writes, LineLog& log, const RunOptions& options,
                       HoldersOfTheRun& holders) {
  std::vector<std::string> inUse = FilesInUse(platform.files, writes);
  if (inUse.empty()) return true;
  for (const std::string& path : inUse) log.Log(text::kLogFilesInUse + path);
  std::vector<FileHolder> found = NameHolders(platform, inUse, log, holders);
  if (options.closeApplications && !found.empty()) {
    CloseHolders(platform, found, options.forceCloseApplications, log, holders);
    inUse = FilesInUse(platform.files, writes);
    if (!inUse.empty()) found = platform.holders.Find(inUse);
  }

  if (options.quiet) {
    // Nobody can close a program for a deployment tool: the run waits on its own.
    for (int waited = 0; !inUse.empty(); inUse = FilesInUse(platform.files, writes)) {
      if (waited++ == kUnattendedWaitSeconds) {
        log.Log(text::kLogFilesInUseCancelled);
        return false;
      }
      platform.system.Pause(1000);
    }
    return true;
  }

  while (!inUse.empty()) {
    FilesInUseChoice choice;
    if (found.empty()) {
      const std::string question = FormatText(text::kFilesInUse, {JoinTexts(inUse, "\r"), text::kProgramsUnknown});
      choice = platform.dialogs.ShowBox(BoxKind::RetryCancel, text::kWarningTitle, question) ? FilesInUseChoice::Retry
                                                                                             : FilesInUseChoice::Cancel;
    } else {
      choice = platform.dialogs.AskAboutFilesInUse(text::kWarningTitle, FilesInUseQuestion(inUse, found));
    }
    if (choice == FilesInUseChoice::Cancel) {
      log.Log(text::kLogFilesInUseCancelled);
      return false;
    }
    if (choice == FilesInUseChoice::ClosePrograms) {
      CloseHolders(platform, found, options.forceCloseApplications, log, holders);
    }
    inUse = FilesInUse(platform.files, writes);
    if (inUse.empty()) break;
    for (const std::string& path : inUse) log.Log(text::kLogFilesInUse + path);
    found = NameHolders(platform, inUse, log, holders);
  }
  return true;
}

bool EnoughDiskSpace(Platform& platform, const RunState& state, const PlannedWrites& writes, LineLog& log) {
  const auto free = platform.files.FreeBytes(state.installDir);
  if (!free || *free >= writes.bytes) return true;
  log.Log(text::kLogDiskSpaceTooLow);
  ShowPlainMessage(platform, FormatText(text::kDiskSpaceTooLow, {state.installDir, MebibytesNeeded(writes.bytes), MebibytesFree(*free)}));
  return false;
}

}  // namespace varno
