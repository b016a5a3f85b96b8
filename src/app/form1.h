// The progress window's handlers. The whole update runs inside FormCreate, before the
// message loop starts; FormDestroy closes the run log on every way out.
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/exit_codes.h"
#include "app/package_gate.h"
#include "app/program_closing.h"
#include "app/run_log.h"
#include "app/unattended.h"
#include "base/run_state.h"
#include "package/held_package_files.h"
#include "platform/event_log.h"
#include "platform/inert_window.h"
#include "platform/platform.h"
#include "rollback/rollback.h"
#include "shortcuts/shell_link.h"
#include "steps/delete_step.h"
#include "steps/delta_step.h"

namespace varno {

class UpdateProgress;

class TForm1 {
 public:
  // With trust, the program applies only packages signed with its vendor's key. The options
  // of the command line decide whether anyone is there to see the window and the boxes.
  TForm1(Platform& platform, const std::string& osFamilyName, const PackageTrust* trust = nullptr,
         const RunOptions& options = {});

  // The update driver. An UpdateError raised anywhere in it ends it at that point and is
  // shown in the error box; what the run had changed is then taken back, and the window
  // stays without its quit button.
  void FormCreate();

  // Writes the run log's last line; a failed save is shown in the error box.
  void FormDestroy();

  void Button1Click();

  const RunState& State() const { return state_; }

  // True when the user interrupted the update from the close box and the run was taken back.
  bool Interrupted() const { return interrupted_; }
  // How the run ended, for the program's exit code: set at each end of the driver.
  ExitCode Outcome() const { return outcome_; }
  // Whether the update reached its commit point, and where the log was last written.
  bool Committed() const { return committed_; }
  const std::string& LogPath() const { return logPath_; }
  // The programs found holding the files the run replaces.
  const std::vector<FileHolder>& FileHoldersFound() const { return holders_.named; }

 private:
  void RunDriver();
  // The installation steps, from the creation of the uninstall record to its save, all
  // through the transaction's services.
  void ApplyPackage(Platform& changes, bool valid, uint64_t bytesToWrite, UpdateProgress& progress);
  // Takes back the run's changes after an error, when it had started making them.
  void RollBack();
  // A delta fits only the file it was made from: an installation whose file differs, and
  // that the package carries no whole file for, ends with nothing changed.
  void RefuseDeltas();
  // An earlier run's journal in the installation just found: finished before anything
  // there is read.
  void RecoverInterruptedRun(const std::string& installDir);
  // Holds the installation found and every directory above it until the program ends, so
  // that neither the log that joins it nor the run follows a junction put in its place; false,
  // with the reason shown, when a level cannot be held: nothing is changed then.
  bool HoldInstallation();
  void RefuseUnheld(const HoldRefusal& refusal);
  // A line the run log may fail to save without hiding what is being done.
  void LogWhatever(const std::string& line);
  // The driver's "terminate": records how the run ended and posts the quit request; the
  // caller then leaves the driver.
  void Terminate(ExitCode outcome);
  void Log(const std::string& line);
  void LogDeletion(const DeleteOutcome& outcome);

  RunOptions options_;
  RunDialogs dialogs_;
  InertWindow hiddenWindow_;
  // The machine's files; once the package passed the vendor's check, its files are read
  // only through the handles the check holds, until the form is destroyed.
  HeldPackageFiles packageFiles_;
  // The machine's services with the files and the dialogs above and, in a quiet run, the
  // window above.
  Platform platform_;
  RunState state_;
  ExitCode outcome_ = ExitCode::kSuccess;
  bool committed_ = false;
  std::string logPath_;
  // The outcome of an error that ends the driver: the run failed, unless the cause was
  // known before (no installation found).
  ExitCode failureOutcome_ = ExitCode::kFailed;
  // An archive refused as a whole in a run that went on without it.
  bool archiveRefused_ = false;
  // The shell link service keeps its current desktop and Programs folders for the rest of
  // the program once the steps made it.
  std::optional<ShellLink> shellLink_;
  std::optional<DeltaPlan> deltaPlan_;
  std::optional<RunLog> runLog_;
  std::optional<HeldDirectories> installationHeld_;
  // From the first change to the commit point.
  std::unique_ptr<UpdateTransaction> transaction_;
  const PackageTrust* trust_;
  bool interrupted_ = false;
  std::string recoveredIn_;  // the directory whose journal this run has looked at
  HoldersOfTheRun holders_;
};

// The captions the six labels take before the first of them is shown.
void GiveLabelsTheirRunCaptions(ProgressWindow& window);

// Starts "Action.exe" of the current directory, when there is one (for a key-bound run: when
// the package check held it), without waiting for it and without reporting a failure to
// start.
void LaunchActionProgram(Platform& platform);

// The application, once the platform check accepted the system: creates the form (which
// runs the update), runs the message loop unless the run already asked to end or is quiet,
// and destroys the form. Gives the run's outcome, which it writes in the event log when one
// is given.
ExitCode RunApplication(Platform& platform, const std::string& osFamilyName, const PackageTrust* trust = nullptr,
                        const RunOptions& options = {}, EventLog* events = nullptr);

}  // namespace varno
