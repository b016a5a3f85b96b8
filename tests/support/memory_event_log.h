// The Application event log of the in-memory machine: the events written, in order, and a
// log that can be made unavailable.
#pragma once

#include <string>
#include <vector>

#include "platform/event_log.h"

namespace varno::fake {

class MemoryEventLog : public EventLog {
 public:
  struct Event {
    std::string source;
    EventKind kind;
    uint32_t id;
    std::vector<std::string> strings;
  };

  bool Report(const std::string& source, EventKind kind, uint32_t eventId,
              const std::vector<std::string>& strings) override {
    if (!available) return false;
    events.push_back({source, kind, eventId, strings});
    return true;
  }

  bool available = true;
  std::vector<Event> events;
};

}  // namespace varno::fake
