// Prints what the platform check makes of the running Windows: the version the system
// reports, its code and the family name (or "refused"); with the argument "regional", the
// regional settings instead. Carries the updater's manifest, so it sees the version the
// updater sees.
#include <cstdio>
#include <string>

#include "platform/win32/win32_system.h"
#include "installation/platform_check.h"

int main(int argc, char** argv) {
  varno::win32::Win32System system;
  if (argc > 1 && std::string(argv[1]) == "regional") {
    const varno::RegionalSettings regional = system.Regional();
    std::printf("%c %c %c %s\n", regional.decimalSeparator, regional.dateSeparator, regional.timeSeparator,
                regional.shortDateFormat.c_str());
    return 0;
  }
  const auto version = system.WindowsVersion();
  const unsigned code = varno::ProbeOsVersion(system);
  const auto family = varno::OsFamilyNameOf(code);
  std::printf("%u %u.%u %u %s\n", version ? version->platformId : 0, version ? version->major : 0,
              version ? version->minor : 0, code, family ? family->c_str() : "refused");
  return 0;
}
