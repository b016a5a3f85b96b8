#include "app/program_closing.h"

#include <algorithm>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/windows_path.h"

namespace varno {
namespace {

bool SameProcess(const FileHolder& a, const FileHolder& b) { return a.processId == b.processId; }

// Still among the holders of its own files: a process that said it ended, or a finder that
// reported success, is believed only when the files no longer show it.
bool StillHolds(Platform& platform, const FileHolder& holder) {
  const std::vector<FileHolder> now = platform.holders.Find(holder.files);
  return std::any_of(now.begin(), now.end(), [&](const FileHolder& h) { return SameProcess(h, holder); });
}

}  // namespace

std::string DescribeHolder(const FileHolder& holder) {
  return FormatText(text::kFileHolder, {LastComponent(holder.program), std::to_string(holder.processId),
                                        holder.user.empty() ? text::kUnknownUser : holder.user});
}

std::vector<FileHolder> NameHolders(Platform& platform, const std::vector<std::string>& inUse, LineLog& log,
                                    HoldersOfTheRun& holders) {
  std::vector<FileHolder> found = platform.holders.Find(inUse);
  for (const FileHolder& holder : found) {
    log.Log(FormatText(text::kLogFileHolder,
                       {FormatText(text::kFileHolder, {holder.program, std::to_string(holder.processId),
                                                       holder.user.empty() ? text::kUnknownUser : holder.user}),
                        JoinTexts(holder.files, ", ")}));
    const auto known = std::find_if(holders.named.begin(), holders.named.end(),
                                    [&](const FileHolder& h) { return SameProcess(h, holder); });
    if (known == holders.named.end()) holders.named.push_back(holder);
  }
  return found;
}

void CloseHolders(Platform& platform, const std::vector<FileHolder>& found, bool force, LineLog& log,
                  HoldersOfTheRun& holders) {
  for (const FileHolder& holder : found) {
    const std::string name = DescribeHolder(holder);
    log.Log(FormatText(text::kLogCloseAsked, {name}));
    const EndRequest answer = platform.holders.AskToEnd(holder);
    bool gone = answer == EndRequest::Ended && !StillHolds(platform, holder);
    if (!gone && force && platform.holders.ForceEnd(holder)) {
      log.Log(FormatText(text::kLogForcedToEnd, {name}));
      gone = !StillHolds(platform, holder);
    }
    if (gone) {
      log.Log(FormatText(text::kLogClosed, {name}));
      holders.closed.push_back(holder);
    } else {
      log.Log(FormatText(answer == EndRequest::Refused ? text::kLogCloseRefused : text::kLogCloseNotDone, {name}));
    }
  }
}

void RestartClosedPrograms(Platform& platform, LineLog& log, HoldersOfTheRun& holders) {
  const std::vector<FileHolder> closed = std::move(holders.closed);
  holders.closed.clear();
  for (const FileHolder& holder : closed) {
    const std::string commandLine = holder.commandLine.empty() ? holder.program : holder.commandLine;
    if (platform.holders.Restart(holder)) {
      log.Log(FormatText(text::kLogRestarted, {commandLine, holder.currentDirectory}));
    } else {
      log.Log(FormatText(text::kLogNotRestarted, {commandLine}));
    }
  }
}

}  // namespace varno
