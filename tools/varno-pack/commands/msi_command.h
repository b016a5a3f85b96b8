// "varno-pack msi": a Windows Installer package that carries an update package as it is and
// runs the updater without anyone present, for the deployment engines that take only .msi
// files (Group Policy software installation, Intune line-of-business apps, Configuration
// Manager's detection by product code). The MSI is written through the platform's Windows
// Installer library; the same package gives the same MSI bytes on one platform, and the same
// tables on both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "checks/report.h"

namespace varno::pack {

// MSI versions are major.minor.build with major and minor below 256 and build below 65536.
// The package's version (a positive 31-bit number) is split over them by its bits, so that
// the order of MSI versions is the order of package versions: 2816090 (0x2AF85A) is
// 0.42.63578. Nothing for a version that is not a positive number.
std::optional<std::string> MsiProductVersion(std::string_view packageVersion);

// A GUID made from a name (RFC 9562 version 8: the first 16 bytes of the name's SHA-256,
// version and variant bits set), upper case in braces as Windows Installer writes them.
std::string NameGuid(std::string_view name);

struct MsiRequest {
  std::string packageDir;  // host path
  std::string output;      // host path of the .msi
};

struct MsiResult {
  bool written = false;
  std::string productVersion, productCode, packageCode, upgradeCode;
};

MsiResult BuildMsi(const MsiRequest& request, Report& report);

}  // namespace varno::pack
