#include "app/preflight_gates.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "platform/message_boxes.h"

namespace varno {
namespace {

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

// What is needed is rounded up, what is free down, so the figures never hide the shortfall.
std::string MebibytesNeeded(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20); }
std::string MebibytesFree(uint64_t bytes) { return std::to_string(bytes >> 20); }

}  // namespace

bool WaitForFilesInUse(Platform& platform, const PlannedWrites& writes, LineLog& log, bool unattended) {
  int waited = 0;
  for (std::vector<std::string> inUse = FilesInUse(platform.files, writes); !inUse.empty();
       inUse = FilesInUse(platform.files, writes)) {
    if (unattended) {
      if (waited == 0) {
        for (const std::string& path : inUse) log.Log(text::kLogFilesInUse + path);
      }
      if (waited++ == kUnattendedWaitSeconds) {
        log.Log(text::kLogFilesInUseCancelled);
        return false;
      }
      platform.system.Pause(1000);
      continue;
    }
    for (const std::string& path : inUse) log.Log(text::kLogFilesInUse + path);
    const std::vector<std::string> programs = platform.processes.ProgramsUsing(inUse);
    const std::string question = FormatText(
        text::kFilesInUse, {Joined(inUse, "\r"), programs.empty() ? text::kProgramsUnknown : Joined(programs, ", ")});
    if (!platform.dialogs.ShowBox(BoxKind::RetryCancel, text::kWarningTitle, question)) {
      log.Log(text::kLogFilesInUseCancelled);
      return false;
    }
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
