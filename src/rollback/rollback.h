// Taking an update back, and the transaction that makes an update all or nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "rollback/journal.h"
#include "rollback/journal_scope.h"
#include "rollback/journaled_services.h"
#include "rollback/run_anchor.h"

namespace varno {

// What could not be put back, one description each (a path, a registry value). Empty when
// the installation is as it was.
using RollbackFailures = std::vector<std::string>;

// Undoes the records, the last first, through the real services; then registers again the
// controls whose registration the run had replaced, as they are once the files are back.
// A file record below one of the holds' roots (the installation, the shortcut folders) is
// undone only once every directory down to its own is held; one that cannot be (a junction
// there now) is not undone: a failure.
RollbackFailures UndoJournalRecords(Platform& platform, const std::vector<JournalRecord>& records,
                                    HeldDirectories& holds);

// The update under way. Every change goes through platform(), whose file, registry, shell
// and library services journal it first; the rest are the real ones.
class UpdateTransaction {
 public:
  // Holds the installation directory and every one above it, anchors the run (run_anchor.h),
  // then starts the journal in the installation. Nothing when a level cannot be held
  // (unheld then says which and why), the run cannot be anchored or the journal cannot be
  // written (why then says which), or one is there already: then nothing may be changed.
  // Until the transaction ends, nothing below the installation or the shortcut folders is
  // changed or undone but in directories it holds.
  static std::unique_ptr<UpdateTransaction> Begin(Platform& real, const std::string& installDir,
                                                  const std::vector<std::string>& shortcutFolders = {},
                                                  std::optional<HoldRefusal>* unheld = nullptr,
                                                  BeginRefusal* why = nullptr);

  Platform& platform() { return journaled_; }
  const std::string& JournalPath() const { return journal_->Path(); }

  // The commit point: the journal is marked complete, then the backups, the journal and
  // the run's anchor are removed, in that order. A backup that cannot be removed yet (in
  // use) leaves the journal and its anchor for a later run to finish the cleaning. False when the mark itself could not be written (the update
  // stands, and a later run would take it back).
  bool Commit();

  // Takes back every change. The journal, then the run from its anchor, are removed when
  // the undo is complete, and kept for a later run otherwise.
  RollbackFailures Rollback();

 private:
  UpdateTransaction(Platform& real, std::unique_ptr<Journal> journal, HeldDirectories holds, std::string installDir,
                    bool repairDue);

  // The journal is gone: so goes the run from the anchor.
  void EndRun(bool repairDue);

  Platform& real_;
  std::string installDir_;
  bool repairDueBefore_;  // the anchor said so before the run
  std::unique_ptr<Journal> journal_;
  HeldDirectories holds_;
  JournaledFiles files_;
  JournaledRegistry registry_;
  JournaledShell shell_;
  JournaledLibraries libraries_;
  Platform journaled_;
};

// What the start of a run found of an earlier run's journal.
struct Recovery {
  // NotCleaned: a completed run's backups (in failures) could not all be removed, even at
  // the next start. SetAside: a journal that names something outside the scope; failures
  // then holds what it named (and the journal's path when it could not be moved aside).
  // Untrusted: a journal that another account than an administrator could have written
  // (trust says why; unanchored: no run's anchor authenticates it), moved aside whole,
  // nothing of it done. NotHeld: a level of the installation directory (in failures) is a
  // junction or cannot be held; nothing done. Lost: the anchor names a run whose journal is
  // missing or is not that run's: the installation may be half updated, and the anchor now
  // says it is to be repaired.
  enum class Kind { None, Restored, Incomplete, Cleaned, NotCleaned, SetAside, Untrusted, NotHeld, Lost };
  Kind kind = Kind::None;
  FileTrust trust = FileTrust::Trusted;
  bool unanchored = false;
  RollbackFailures failures;
  // What stood at the journal's place, or at its temporary file's, and was moved aside: the
  // names it was given.
  std::vector<std::string> movedAside;
};

// The name a journal out of scope is given beside its own.
inline constexpr char kSetAsideSuffix[] = ".ecarte";

// The first record of the journal that names something outside the scope, described.
std::optional<std::string> OutOfScope(const std::vector<JournalRecord>& records, const JournalScope& scope);

// Finishes what an interrupted run left in installDir: a journal not marked complete is
// undone (the installation as before that run), a complete one only has its backups
// removed. The journal goes once that is done, then its run from the anchor; both stay
// otherwise. A journal of this version is acted on only when the anchor names its run and
// its seals match the anchor's key, whatever its volume; an older one only when its owner
// and access list say an administrator wrote it. With a scope, a journal that names
// anything outside it is moved aside whole, nothing of it done.

// Whether the installation may be half updated: a run of it ended without a journal that
// could be used, or one is still under way. An equal version is then no proof of anything.
bool RepairDue(Registry& registry, const std::string& installDir);

Recovery RecoverInterruptedRun(Platform& platform, const std::string& installDir, const JournalScope* scope = nullptr);

}  // namespace varno
