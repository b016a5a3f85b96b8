#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varno {

// Event types, with their Windows values.
enum class EventKind : uint16_t { Error = 1, Warning = 2, Information = 4 };

// The machine's Application event log.
class EventLog {
 public:
  virtual ~EventLog() = default;

  /// Writes one event under the source: its kind, its identifier (a message of the table
  /// that the source's registration names) and the message's insertion strings. False when
  /// the log cannot be written (no event log service, access refused); nothing else
  /// happens then.
  virtual bool Report(const std::string& source, EventKind kind, uint32_t eventId,
                      const std::vector<std::string>& strings) = 0;
};

}  // namespace varno
