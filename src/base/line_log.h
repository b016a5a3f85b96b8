// Where a step writes the lines it must leave in the run's history. The run log implements
// it; a step that logs depends on this, not on the log's file handling.
#pragma once

#include <string>

namespace varno {

class LineLog {
 public:
  virtual ~LineLog() = default;

  /// Appends one line. May raise the log's own error when the line cannot be saved.
  virtual void Log(const std::string& line) = 0;
};

}  // namespace varno
