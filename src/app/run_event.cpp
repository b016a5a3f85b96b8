#include "app/run_event.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "platform/registry_access.h"

namespace varno {
namespace {

constexpr char kMessageFileValue[] = "EventMessageFile";
constexpr char kTypesValue[] = "TypesSupported";
constexpr uint32_t kErrorWarningInformation = 7;

std::string Registered(Registry& registry) {
  RegKey key = 0;
  if (registry.OpenKey(kHkeyLocalMachine, kEventSourceKey, kKeyRead, false, &key) != kRegSuccess) return {};
  std::string file = StringValueOf(registry, key, kMessageFileValue);
  registry.CloseKey(key);
  return file;
}

}  // namespace

bool RegisterEventSource(Registry& registry, System& system, FileSystem& files) {
  const std::string registered = Registered(registry);
  if (!registered.empty() && files.FileExists(registered)) return true;
  const std::string program = system.ModuleFileName();
  if (program.empty()) return false;
  RegKey key = 0;
  if (registry.OpenKey(kHkeyLocalMachine, kEventSourceKey, kKeyAllAccess, true, &key) != kRegSuccess) return false;
  const std::string path = program + '\0';
  const char types[4] = {static_cast<char>(kErrorWarningInformation), 0, 0, 0};
  const bool written = registry.SetValue(key, kMessageFileValue, kRegSz, path) == kRegSuccess &&
                       registry.SetValue(key, kTypesValue, kRegDword, std::string_view(types, 4)) == kRegSuccess;
  registry.CloseKey(key);
  return written;
}

void ReportRunOutcome(EventLog& events, Registry& registry, System& system, FileSystem& files,
                      const RunOutcome& outcome) {
  RegisterEventSource(registry, system, files);
  const bool succeeded = outcome.code == ExitCode::kSuccess;
  const std::string code = std::to_string(ToInt(outcome.code));
  const std::string before = outcome.versionBefore.empty() ? text::kEventNoVersion : outcome.versionBefore;
  const std::string after = outcome.versionAfter.empty() ? text::kEventNoVersion : outcome.versionAfter;
  std::string message =
      FormatText(succeeded ? text::kEventRunSucceeded : text::kEventRunFailed, {code, before, after, outcome.logPath});
  const std::string holders = JoinTexts(outcome.fileHolders, "; ");
  if (!holders.empty()) message += FormatText(text::kEventFileHolders, {holders});
  // The holders, when there were any, come last, so the strings before keep their places.
  std::vector<std::string> strings{message, code, before, after, outcome.logPath};
  if (!holders.empty()) strings.push_back(holders);
  events.Report(kEventSource, succeeded ? EventKind::Information : EventKind::Error,
                succeeded ? kEventRunSucceeded : kEventRunFailed, strings);
}

}  // namespace varno
