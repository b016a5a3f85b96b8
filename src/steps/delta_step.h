// Files the package brings as binary deltas from the previous release's file. The
// description's "[delta]" section lists them, one a line:
//
//   PATH|SHA256 OF THE INSTALLED FILE IT APPLIES TO|SHA256 OF THE FILE IT MAKES
//
//   PATH|SHA256 OF THE INSTALLED FILE IT APPLIES TO|SHA256 OF THE FILE IT MAKES|SOURCE
//
// PATH relative to the installation directory, the digests in hexadecimal. The delta reads
// the installed file at PATH, or, with the fourth field, at SOURCE (relative too, checked
// as PATH is): a file the release renamed or moved, or a new file most like an installed
// one, is made from that file, which the package leaves as it is or removes afterwards
// ("[delete]"). The deltas are the members of the archive "sor_delta.slp" named by PATH; a
// line without its own member takes the delta of another line with the same two digests,
// so two identical results are carried once. A package may also carry the whole files,
// members of "sor_full.slp" named by PATH, for installations whose file is not the one the
// delta applies to.
//
// An updater older than the fourth field and than the shared members refuses such a line
// (it reads "DIGEST|SOURCE" as the result's digest, or finds no member): the run ends with
// 1620 before anything is written, as for any "[delta]" line it cannot take.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/run_state.h"
#include "package/archive_layout.h"
#include "platform/platform.h"
#include "steps/update_preflight.h"

namespace varno {

inline constexpr char kDeltaSection[] = "[delta]";

struct DeltaLine {
  std::string path;
  std::string sourceSha256;  // lowercase hexadecimal
  std::string resultSha256;
  std::string sourcePath;  // the installed file the delta reads when not PATH, else empty
  const std::string& Source() const { return sourcePath.empty() ? path : sourcePath; }
};

// One "[delta]" line; nothing when it does not have three or four fields, paths the
// archives' member names allow (relative, staying inside the installation) and two 64-digit
// digests.
std::optional<DeltaLine> ParseDeltaLine(std::string_view line);

// What the run will do with each line, decided before anything is written.
struct PlannedDelta {
  enum class Use { Delta, WholeFile };
  DeltaLine line;
  std::string target;     // the installed file's full path
  std::string source;     // the full path of the installed file the delta reads
  Use use = Use::Delta;
  ArchiveMember member;   // in the delta archive, or the full files' one
  uint64_t resultSize = 0;
  // Another program held the installed file so that it could not be read: it waits with
  // the files in use, and its digest decides once they are free (TakeUnreadDigests).
  bool sourceUnread = false;
  std::optional<ArchiveMember> wholeFile;  // the full files' member, when the package has it
};

struct DeltaPlan {
  std::vector<PlannedDelta> files;
  // The lines the installation cannot take: the installed file differs from the one the
  // delta applies to (or is missing), and the package does not carry the whole file; also
  // lines that are malformed or whose delta is missing. Named as the lines give them, or
  // by the installed file that differs (a renamed file's source).
  std::vector<std::string> refused;
  bool Applies() const { return refused.empty(); }
};

// Making the plan: the digests of the installed files the deltas apply to are taken from
// the start on two workers of the system, while the caller goes on (the confirmation waits
// for its answer meanwhile), and each file is held against writers from then until the
// plan is made, so that the file the plan decides on is the one that was digested.
class DeltaPlanning {
 public:
  DeltaPlanning(FileSystem& files, System& system, const RunState& state);
  // Stops taking digests (after the files under way) and waits for the workers.
  ~DeltaPlanning();
  DeltaPlanning(const DeltaPlanning&) = delete;
  DeltaPlanning& operator=(const DeltaPlanning&) = delete;

  // Once. Takes the digests not yet taken on the caller's thread too, then lets the files
  // go. Nothing when the description has no "[delta]" section (a package without deltas
  // runs as before).
  std::optional<DeltaPlan> Finish();

 private:
  struct Candidate;
  struct Digested;
  void TakeDigests();

  std::vector<Candidate> candidates_;
  bool hasSection_ = false;
  std::vector<Digested> digested_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::unique_ptr<Worker> workers_[2];  // last: they end before what they use
};

// The plan at once, for a caller with nothing to do meanwhile.
std::optional<DeltaPlan> PlanDeltas(FileSystem& files, System& system, const RunState& state);

// Takes the digests of the installed files that could not be read when the plan was made
// and decides their use as the plan does; false when there were none.
bool TakeUnreadDigests(FileSystem& files, DeltaPlan& plan);

// The planned files join what the archives write: the files they replace, which must not
// be in use, and the bytes they make, which must fit.
void AddDeltaWrites(FileSystem& files, const DeltaPlan& plan, PlannedWrites& writes);

// Writes each planned file as a replacement of the installed one, from its delta (read
// against the installed file) or the whole file, and checks the digest of what was written
// before it replaces anything (taken on a worker's thread while the file is written). The
// first file that could not be made or replaced ends the
// run with "Impossible de créer le fichier %s" (the run is then taken back); the reason
// is logged through logLine first.
void ApplyDeltas(Platform& platform, const DeltaPlan& plan, const std::string& packageDir,
                 const std::function<void(const std::string&)>& logLine);

}  // namespace varno
