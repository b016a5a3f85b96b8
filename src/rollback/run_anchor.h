// Where a run is known to exist before its first change: a value in HKEY_LOCAL_MACHINE that
// only administrators can read or write, whatever volume the installation lies on. It
// names the run (its tag) and holds the key that authenticates its journal's lines, so a
// journal is trusted for what the anchor says, not for the owner or the access list its
// volume may silently drop (FAT32, exFAT) or map to another account (a share).
//
// Key SOFTWARE\Tolmerik\VarnoMaJ, one binary value per installation directory, named by
// its full path in capitals, holding Windows-1252 text:
//   tag<TAB>key<TAB>repair
// tag: the unfinished run's 16 hexadecimal digits, or "-" when no run is under way; key:
// the 64 hexadecimal digits of its journal's 32-byte key, or "-"; repair: "R" when a run on
// this installation ended without its journal being usable (lost, replaced, cut short on a
// volume that others can write), so that the installation may be half updated whatever its
// version says; "-" otherwise. No value: no run under way and nothing to repair.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/registry.h"

namespace varno {

class Journal;

inline constexpr char kRunAnchorKey[] = "SOFTWARE\\Tolmerik\\VarnoMaJ";
// What a stray entry at the journal's place is renamed to (with a random ending when taken).
inline constexpr char kStrayJournalSuffix[] = ".ecarte";

struct RunAnchor {
  std::string tag;  // empty: no run under way
  std::string key;  // the journal's key, 32 bytes
  bool repairDue = false;
  bool HasRun() const { return !tag.empty(); }
};

// The installation's anchor; an empty one when there is none. Nothing when the key cannot
// be trusted or read (another account could have written it): then nothing it would
// authenticate is trusted either.
std::optional<RunAnchor> ReadRunAnchor(Registry& registry, const std::string& installDir);

// Writes the anchor (an empty one removes its value) and flushes it to the disk before
// returning. False when either failed.
bool WriteRunAnchor(Registry& registry, const std::string& installDir, const RunAnchor& anchor);

// Why a run could not begin.
enum class BeginRefusal {
  None,
  // The journal could not be made owned by the Administrators group (a share that refuses
  // it, a process without the group): nobody could have trusted it.
  OwnerRefused,
  // The anchor still names an earlier run whose journal is kept: it must be finished first.
  EarlierRunUnfinished,
  // The anchor or the journal could not be written.
  Failed,
};

// Anchors a new run of installDir (a fresh tag and key, flushed) and begins its journal
// at journalPath. Anything at the journal's place that cannot be an unfinished run's
// journal (a directory, a link, a file with another name) is first moved aside under a
// name of its own. Nothing, with the reason, when the run must not change anything.
std::unique_ptr<Journal> BeginAnchoredJournal(FileSystem& files, Registry& registry, const std::string& installDir,
                                              const std::string& journalPath, BeginRefusal* why = nullptr);

// Moves whatever is at path (a file, a link, a directory) to path + suffix, or when that
// name is taken, to path + suffix + "-" + 16 hexadecimal digits drawn at random. The name
// it now has; nothing when it could not be moved.
std::optional<std::string> MoveAsideUnderOwnName(FileSystem& files, const std::string& path, const std::string& suffix);

}  // namespace varno
