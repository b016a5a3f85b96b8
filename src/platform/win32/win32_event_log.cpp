#include "platform/win32/win32_event_log.h"

#include "platform/win32/win32.h"

namespace varno::win32 {

bool Win32EventLog::Report(const std::string& source, EventKind kind, uint32_t eventId,
                           const std::vector<std::string>& strings) {
  // An unregistered source still opens (the Application log takes it) and its events are
  // written; only Event Viewer's text is missing then.
  HANDLE log = RegisterEventSourceA(nullptr, source.c_str());
  if (!log) return false;
  std::vector<const char*> texts;
  for (const std::string& text : strings) texts.push_back(text.c_str());
  const BOOL written = ReportEventA(log, static_cast<WORD>(kind), 0, eventId, nullptr, static_cast<WORD>(texts.size()),
                                    0, texts.data(), nullptr);
  DeregisterEventSource(log);
  return written != FALSE;
}

}  // namespace varno::win32
