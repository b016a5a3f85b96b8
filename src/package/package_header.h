// The fixed-position header of the package description: 21 lines identified only by their
// position, read once at the start of the installation check.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace varno {

struct PackageHeader {
  std::string newVersion;            // line 2, as text
  uint8_t minFileVersionNumber = 0;  // line 17
  int32_t minInstalledVersion = 0;   // line 19
  std::string versionLabel;          // line 21
};

inline constexpr uint8_t kDefaultMinFileVersionNumber = 28;
inline constexpr int32_t kDefaultMinInstalledVersion = 2816080;

// Interprets the bytes of the description. The header reader ends a line only at LF and
// drops every CR from the text, unlike the section lookup, for which a lone CR ends a line.
PackageHeader ParsePackageHeader(std::string_view bytes);

// Reads the header of the description at the path. When no file is there it shows the
// "not found" message, posts the application's quit request and gives nothing; the caller
// goes on, as the quit request only takes effect when the message loop starts.
std::optional<PackageHeader> ReadPackageHeader(Platform& platform, const std::string& descriptionPath);

}  // namespace varno
