#pragma once

#include <stdexcept>
#include <string>

namespace varno {

// The one error that ends the update run. It is raised only where the system defines an
// error (a strict conversion, a file that cannot be created, a refused registry write, ...);
// its message is the Windows-1252 text the user sees in the error box. Everything else is
// reported as a quiet result.
class UpdateError : public std::runtime_error {
 public:
  explicit UpdateError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace varno
