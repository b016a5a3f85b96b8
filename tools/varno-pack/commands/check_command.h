// varno-pack check: reads a package directory as the updater will and reports each line it
// will skip, read differently from its look, or fail on.
#pragma once

#include <string>

#include "checks/delta_checks.h"
#include "checks/report.h"
#include "platform/files.h"
#include "platform/system.h"
#include "project/name_rules.h"

namespace varno::pack {

// The regional settings a package is checked under unless told otherwise: those of the
// French machines it is made for (',' '/' ':' dd/MM/yyyy). build and check share them.
RegionalSettings FrenchRegionalSettings();

struct CheckRequest {
  std::string packageDir;    // Windows path, without a trailing backslash
  std::string packageShown;  // as the user gave it
  RegionalSettings regional = FrenchRegionalSettings();
  int currentYear = 0;  // for dates written with two digits or none for the year
  int installDirLength = kDefaultInstallDirLength;  // the paths' length is checked against it
  // --against: an installation directory (Windows path) the deltas are checked against.
  std::string againstDir;
  std::string againstShown;
};

// What it finds goes into the report; what the deltas would do is given back.
DeltaCheck CheckPackage(FileSystem& files, const CheckRequest& request, Report& report);

Json CheckJson(const CheckRequest& request, const Report& report);
// The findings, then a summary line.
void PrintCheck(const CheckRequest& request, const Report& report, const DeltaCheck& deltas = {});

}  // namespace varno::pack
