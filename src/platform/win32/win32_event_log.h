#pragma once

#include "platform/event_log.h"

namespace varno::win32 {

// The Application log through advapi32's event functions (on XP as on later Windows).
class Win32EventLog : public EventLog {
 public:
  bool Report(const std::string& source, EventKind kind, uint32_t eventId,
              const std::vector<std::string>& strings) override;
};

}  // namespace varno::win32
