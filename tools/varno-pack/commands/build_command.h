// commands/: one file a subcommand, its work and output (init is in build; keygen, sign and verify in signing/).
// varno-pack build: a whole update package from one project file, checked as "check" checks
// it before it is put in place; and varno-pack init, which writes a project file to fill in.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "checks/report.h"
#include "commands/check_command.h"
#include "host/progress.h"
#include "platform/files.h"
#include "project/package_plan.h"

namespace varno::pack {

struct BuildRequest {
  std::string projectShown;   // the project file as the user gave it
  std::string packageShown;   // the package directory as the user gave it
  std::string previousShown;  // --since, empty without it
  bool withFullFiles = false;  // --with-full-files: the whole file beside each delta
  uint64_t maxDeltaFileSize = PlanOptions().maxDeltaFileSize;  // larger changed files go whole
  bool force = false;         // an earlier package at the package directory may be replaced
  bool compress = true;       // deflate the members where that saves a tenth (--no-compress: none)
  int currentYear = 0;        // for the check of dates with a short year
  // What the package's values are checked under: the machines it is for.
  RegionalSettings regional = FrenchRegionalSettings();
  // Signs the package directory (a Windows path) once it is checked, before it is put in
  // place; false, with the reason in the report, keeps it out. Empty: not signed.
  std::function<bool(FileSystem&, const std::string&, Report&)> sign;
  // The Windows path of a host path (HostDisk::WindowsPath).
  std::function<std::string(const std::string&)> windowsPath;
};

struct BuildResult {
  struct Archive {
    std::string fileName;
    std::string subDirectory;
    size_t members = 0;
    uint64_t size = 0;
  };
  std::vector<Archive> archives;
  std::vector<std::string> copied;  // the updater, the control
  size_t files = 0;                 // carried in the archives
  uint64_t bytes = 0;
  bool since = false;
  size_t unchangedFiles = 0;
  uint64_t unchangedBytes = 0;
  std::vector<std::string> deleted;  // as "[delete]" lists them, paths of the previous tree
  size_t deltaFiles = 0;             // changed files carried as deltas
  uint64_t deltaFileBytes = 0;       // their size
  uint64_t deltaBytes = 0;           // the deltas' size
  std::vector<WholeChange> carriedWhole;  // changed files not carried as deltas, and why
  bool nothingChanged = false;
  bool signedPackage = false;
  bool written = false;
};

// Nothing is written at the package directory unless the package is complete and its check
// finds no error: it is built in a directory beside it, then renamed into place. An earlier
// package there is replaced only when the request says so; a directory that holds anything
// but a package is always left alone.
BuildResult BuildPackage(FileSystem& files, const BuildRequest& request, Progress& progress, Report& report);

Json BuildJson(const BuildRequest& request, const BuildResult& result, const Report& report);
// The summary: what was written, or that nothing was and how many findings say why.
void PrintBuilt(const BuildRequest& request, const BuildResult& result, const Report& report);

// Writes the commented project file into the directory (made when missing); an existing
// project file is never replaced.
bool InitProject(FileSystem& files, const std::string& directory, const std::string& directoryShown, Report& report);

}  // namespace varno::pack
