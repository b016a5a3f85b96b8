// What goes into a package built from a staging tree: the tree read and its names checked,
// the files that go into each archive, and the description that lists them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "checks/report.h"
#include "host/progress.h"
#include "platform/files.h"
#include "project/project_file.h"

namespace varno::pack {

struct StagedFile {
  std::string relative;  // inside the staging tree, "\" separated
  std::string path;      // Windows path
  uint64_t size = 0;
};

// Directories in pre-order (each after its parent) and the files of each, sorted by name
// without regard to case, so the same tree always gives the same package.
struct StagingTree {
  std::vector<StagedFile> topFiles;
  struct Directory {
    std::string relative;
    std::vector<StagedFile> files;
  };
  std::vector<Directory> directories;
};

// Reads the tree below root (a Windows path). Each name the updater cannot carry, and two
// names that Windows would take for one, is reported with its path as shown under
// rootShown; the tree is read whole all the same, so every mistake is told at once.
// Entries that an exclusion pattern matches are left out, their contents unread.
StagingTree ReadStagingTree(FileSystem& files, const std::string& root, const std::string& rootShown,
                            const std::vector<std::string>& exclude, Report& report);

// Whether an exclusion pattern matches the entry at relative ("\" separated) named name.
bool Excluded(const std::vector<std::string>& exclude, const std::string& relative, const std::string& name);

struct PlannedArchive {
  std::string fileName;      // in the package directory
  std::string subDirectory;  // empty for the main archive
  std::vector<StagedFile> members;  // named by their file name in the archive
  std::vector<std::string> memberNames;
  // The members' bytes when they are made here (the deltas), in members' order; empty when
  // each member is its file.
  std::vector<std::string> madeBytes;
};

// A changed file carried as the delta from its previous release's file.
struct DeltaFile {
  std::string relative;
  uint64_t size = 0;       // of the file it makes
  uint64_t deltaSize = 0;
  std::string sourceSha256;  // hexadecimal, of the previous release's file
  std::string resultSha256;  // of the new one
  // The previous release's file it is made from when that is not its namesake (a file
  // renamed or moved, or a new file most like one of the previous release), else empty.
  std::string sourceRelative;
};

// A changed file carried whole, and why not as a delta.
struct WholeChange {
  std::string relative;
  uint64_t size = 0;
  std::string reason;
};

struct PackagePlan {
  std::vector<std::string> newDirectories;  // "[subdir]" lines, parents first
  std::vector<PlannedArchive> archives;     // the main one first, when there is one
  std::string description;                  // MjaIni.ini, Windows-1252, CR LF
  // The project file's line of each description line written from an entry of it, so that
  // what the check finds in the description is told where the author wrote it.
  std::map<int, int> projectLines;
  // --since: what is left out.
  size_t unchangedFiles = 0;
  uint64_t unchangedBytes = 0;
  // Files and directories of the previous tree only, as "[delete]" lists them: the files,
  // then the directories, the deepest first.
  std::vector<std::string> deleted;
  // The tree is the previous one, file for file: the package carries no file of it.
  bool nothingChanged = false;
  // --since: changed files carried as deltas ("[delta]", in "sor_delta.slp"), and with
  // --with-full-files their whole files too ("sor_full.slp").
  std::vector<DeltaFile> deltas;
  // --since: the changed files carried whole, each with its reason.
  std::vector<WholeChange> carriedWhole;
};

struct PlanOptions {
  bool deltas = true;          // with a previous tree: changed files as deltas where smaller
  bool withFullFiles = false;  // the whole file beside each delta
  Progress* progress = nullptr;  // told of the deltas' encoding, file by file
  // The largest file a delta is made from or to: the encoder holds about 4.5 times it.
  uint64_t maxDeltaFileSize = 512ull << 20;
};

// extraTopMember, when its path is not empty, is added to the main archive (the control
// that the staging tree lacks). previous, when given, is the previous release's tree: only
// new and changed files are carried, only directories it lacks are made, and what it has
// that the tree lacks is removed ("[delete]"). Files are compared byte for byte.
PackagePlan PlanPackage(FileSystem& files, const Project& project, const StagingTree& tree,
                        const StagedFile& extraTopMember, const StagingTree* previous, Report& report,
                        const PlanOptions& options = {});

// The description for these directories and archives.
// The description for these directories, archives and removals; projectLines, when given,
// receives the project file's line of each description line that comes from one of its
// entries.
std::string DescriptionText(const Project& project, const std::vector<std::string>& newDirectories,
                            const std::vector<PlannedArchive>& archives, const std::vector<std::string>& deleted,
                            std::map<int, int>* projectLines = nullptr, const std::vector<DeltaFile>& deltas = {});

}  // namespace varno::pack
