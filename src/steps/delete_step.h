// The removal step: files and directories that the release no longer has, listed one a
// line in the package description's "[delete]" section, relative to the installation
// directory. It runs after the archives of the sub-directories and before the shortcuts,
// through the same journaled services as every change, so a rollback puts them back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/run_state.h"
#include "platform/platform.h"
#include "steps/uninstall_record.h"

namespace varno {

inline constexpr char kDeleteSection[] = "[delete]";

// Why a "[delete]" line names nothing the step may remove: an absolute path (or one with a
// drive or a stream), one that climbs out of the installation or names the installation
// itself (a "..", "." or empty component), or one of the updater's own files in the
// installation (the uninstall record, the run log, the rollback journal). Nothing for a
// path it may remove. The line is taken without blanks at either end and without a
// trailing "\", as DeletePathOf gives it.
// A name Windows would read as another (a trailing dot or blank, a device) is BadName, as
// for an archive's members.
enum class DeleteRefusal { Absolute, Climbs, UpdaterFile, BadName };
std::optional<DeleteRefusal> CheckDeletePath(std::string_view path);

// Whether a path relative to the installation names one of the updater's own files there,
// by its name or by the short name Windows may give it ("UNINST~1.SLT").
bool NamesUpdaterFile(std::string_view path);

// The path a "[delete]" line names: without blanks and control characters at either end,
// nor the "\" or "/" that may end a directory's line. Empty for a line that names nothing.
std::string DeletePathOf(std::string_view line);

struct DeleteOutcome {
  enum class Kind {
    FileRemoved,
    DirectoryRemoved,
    Absent,             // nothing there: an earlier run or the user removed it
    DirectoryNotEmpty,  // kept: it holds what the package did not list
    NotRemoved,         // in use or refused: kept, and the run goes on
    Refused,            // see CheckDeletePath
  };
  Kind kind;
  std::string path;  // as the line names it
};

// A path that changes kind between releases (a file that became a directory, or the
// reverse) must be gone before the package puts the new one there: those lines, and the
// lines below such a path, are removed in a first pass before the main archive is
// unpacked; the others once the sub-directory archives are.
enum class DeletePass { InTheWay, Rest };

// Removes what "[delete]" lists for this pass, in file order (a directory after the files it held),
// and takes each removed file or directory out of the uninstall record ("[SurFile]" and
// "[SurFileDir]" for a file, "[SurDir]" for a directory). What was done with each line is
// given back for the run log; nothing when the description has no such section, so that
// a package without it runs exactly as before.
std::optional<std::vector<DeleteOutcome>> DeleteDroppedFiles(Platform& platform, const RunState& state,
                                                             WriteLogList& record, DeletePass pass = DeletePass::Rest);

}  // namespace varno
