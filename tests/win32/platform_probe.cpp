// Prints what the platform check makes of the running Windows: the version the system
// reports, its code and the family name (or "refused"). Carries the updater's manifest, so
// it sees the version the updater sees.
#include <cstdio>

#include "platform/win32/win32_system.h"
#include "target/platform_check.h"

int main() {
  varno::win32::Win32System system;
  const auto version = system.WindowsVersion();
  const unsigned code = varno::ProbeOsVersion(system);
  const auto family = varno::OsFamilyNameOf(code);
  std::printf("%u %u.%u %u %s\n", version ? version->platformId : 0, version ? version->major : 0,
              version ? version->minor : 0, code, family ? family->c_str() : "refused");
  return 0;
}
