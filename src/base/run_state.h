#pragma once

#include <cstdint>
#include <string>

namespace varno {

// The paths and version values that the whole run shares. The driver owns one and hands
// it to the steps; every directory is held without a trailing backslash.
struct RunState {
  std::string packageDir;
  std::string packageDescriptionPath;
  std::string installDir;
  std::string installedVersion;
  std::string newVersion;
  uint8_t minFileVersionNumber = 0;
  int32_t minInstalledVersion = 0;
  std::string versionLabel;
  uint8_t fileVersionNumber = 0;
  // "WINDOWS" or "WINDOWS NT", from the platform check at start.
  std::string osFamilyName;
};

}  // namespace varno
