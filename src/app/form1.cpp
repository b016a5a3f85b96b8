#include "app/form1.h"

#include "app/preflight_gates.h"
#include "app/run_event.h"
#include "app/update_progress.h"
#include "app/update_scope.h"
#include "platform/message_boxes.h"
#include "base/ansi_text.h"
#include "base/integer_text.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "components/control_registration.h"
#include "components/signed_code.h"
#include "shortcuts/desktop_directory.h"
#include "shortcuts/shell_link.h"
#include "shortcuts/shortcut_steps.h"
#include "steps/delete_step.h"
#include "steps/file_steps.h"
#include "steps/programs_entry.h"
#include "steps/registry_step.h"
#include "steps/uninstall_record.h"
#include "installation/install_rights.h"
#include "installation/installation.h"

namespace varno {

TForm1::TForm1(Platform& platform, const std::string& osFamilyName, const PackageTrust* trust,
               const RunOptions& options)
    : options_(options),
      dialogs_(platform.dialogs, options_),
      packageFiles_(platform.files),
      platform_{packageFiles_,      platform.registry,
                platform.shell,     dialogs_,
                options_.quiet ? hiddenWindow_ : platform.window,
                platform.processes, platform.libraries,
                platform.system,    platform.holders},
      trust_(trust) {
  state_.osFamilyName = osFamilyName;
}

void TForm1::FormCreate() {
  try {
    RunDriver();
  } catch (const UpdateInterrupted&) {
    // Asked for and confirmed: taken back as an error would be, without the error box.
    interrupted_ = true;
    LogWhatever(text::kLogInterruptedByUser);
    RollBack();
    // The user closed the window: the program ends once it is taken back.
    Terminate(ExitCode::kUserDeclined);
  } catch (const RunStopped& stop) {
    LogWhatever(stop.what());
    outcome_ = stop.code();
    RollBack();
  } catch (const std::exception& error) {
    // The system's own errors, and anything unforeseen (memory exhausted, say): either
    // ends the driver in the error box rather than ending the program unseen.
    ShowErrorBox(platform_, error.what());
    outcome_ = failureOutcome_;
    RollBack();
  }
  // What the run closed is started again however it ended: after the commit, or with the
  // installation as it was.
  if (!holders_.closed.empty()) {
    try {
      RestartClosedPrograms(platform_, *runLog_, holders_);
    } catch (const std::exception&) {
      // A log that cannot be saved keeps its lines; the programs are started all the same.
    }
  }
}

void TForm1::RefuseDeltas() {
  for (const std::string& line : deltaPlan_->refused) Log(text::kLogDeltaSourceDiffers + line);
  ShowPlainMessage(platform_, text::kDeltaSourceDiffers);
  Terminate(ExitCode::kPackageUnusable);
}

void TForm1::RollBack() {
  if (!transaction_) return;
  LogWhatever(text::kLogRollbackStart);
  const RollbackFailures failures = transaction_->Rollback();
  transaction_.reset();
  platform_.window.HideProgress();
  for (const std::string& failure : failures) LogWhatever(text::kLogNotRestored + failure);
  LogWhatever(failures.empty() ? text::kLogRollbackDone : text::kLogRollbackIncomplete);
  platform_.window.SetCaption(Control::Label1, text::kStatusRolledBack);
}

namespace {

const char* NotHeldReason(DirectoryHold why) {
  switch (why) {
    case DirectoryHold::Linked: return text::kNotHeldLinked;
    case DirectoryHold::Missing: return text::kNotHeldMissing;
    default: return text::kNotHeldRefused;
  }
}

const char* UntrustedReason(const Recovery& recovery) {
  if (recovery.unanchored) return text::kUntrustedUnanchored;
  switch (recovery.trust) {
    case FileTrust::Linked: return text::kUntrustedLinked;
    case FileTrust::ExtraName: return text::kUntrustedExtraName;
    case FileTrust::ForeignOwner: return text::kUntrustedOwner;
    default: return text::kUntrustedWritable;
  }
}

}  // namespace

void TForm1::RecoverInterruptedRun(const std::string& installDir) {
  if (installDir.empty() || AnsiSameText(installDir, recoveredIn_)) return;
  recoveredIn_ = installDir;
  const JournalScope scope = ScopeOfAnUpdate(platform_, installDir);
  const Recovery recovery = varno::RecoverInterruptedRun(platform_, installDir, &scope);
  for (const std::string& aside : recovery.movedAside) Log(text::kLogStrayMovedAside + aside);
  if (recovery.kind == Recovery::Kind::None) return;
  Log(text::kLogInterruptedRunFound + installDir);
  switch (recovery.kind) {
    case Recovery::Kind::Lost:
      Log(text::kLogRunJournalLost + installDir);
      for (const std::string& failure : recovery.failures) Log(text::kLogNotRemoved + failure);
      return;
    case Recovery::Kind::Cleaned: return Log(text::kLogInterruptedRunCleaned);
    case Recovery::Kind::NotCleaned:
      for (const std::string& failure : recovery.failures) Log(text::kLogNotRemoved + failure);
      return;
    case Recovery::Kind::SetAside:
      for (const std::string& failure : recovery.failures) Log(text::kLogJournalSetAside + failure);
      return;
    case Recovery::Kind::Untrusted:
      Log(FormatText(text::kLogJournalUntrusted, {UntrustedReason(recovery)}) + installDir);
      for (const std::string& failure : recovery.failures) Log(text::kLogNotRemoved + failure);
      return;
    case Recovery::Kind::NotHeld:
      for (const std::string& failure : recovery.failures) Log(text::kLogRecoveryNotHeld + failure);
      return;
    default: break;
  }
  for (const std::string& failure : recovery.failures) Log(text::kLogNotRestored + failure);
  Log(recovery.failures.empty() ? text::kLogRollbackDone : text::kLogRollbackIncomplete);
}

bool TForm1::HoldInstallation() {
  installationHeld_.emplace(platform_.files, std::vector<std::string>{state_.installDir});
  const std::optional<HoldRefusal> refusal = installationHeld_->HoldDown(state_.installDir);
  if (refusal) RefuseUnheld(*refusal);
  return !refusal;
}

void TForm1::RefuseUnheld(const HoldRefusal& refusal) {
  // A junction in the installation's place, or above it, would have the whole run follow it.
  ShowErrorBox(platform_, FormatText(text::kDirectoryNotHeld, {refusal.directory, NotHeldReason(refusal.why)}));
}

void TForm1::LogWhatever(const std::string& line) {
  try {
    Log(line);
  } catch (const std::exception&) {
    // The log keeps the line for its next save; the rollback must go on.
  }
}

void TForm1::RunDriver() {
  // One update at a time: a second updater changes nothing, not even the log.
  if (!platform_.processes.ClaimSoleUpdater()) {
    ShowPlainMessage(platform_, text::kAlreadyRunning);
    return Terminate(ExitCode::kTryAgainLater);
  }

  // The run log starts on the desktop when there is one; a log given on the command line
  // is used from the first line to the last.
  // The log is the program's own file, wherever it lies (the package directory when there
  // is no desktop): it is read and written by name, outside what the package check holds.
  runLog_.emplace(packageFiles_.Inner());
  dialogs_.AttachLog(&*runLog_);
  if (options_.logPath.empty()) {
    runLog_->Start(UserDesktopPath(platform_.shell));
  } else {
    try {
      runLog_->StartAt(options_.logPath);
    } catch (const LogUnwritable& error) {
      // The run would leave no trace where the administrator looks: it ends before any change.
      dialogs_.AttachLog(nullptr);
      runLog_.reset();
      ShowErrorBox(platform_, error.what());
      return Terminate(ExitCode::kLogUnwritable);
    }
  }

  // The package directory is the directory the updater was started from.
  const std::string currentDir = platform_.system.CurrentDirectory();
  Log(text::kLogCurrentDir + currentDir);
  state_.packageDir = WithoutTrailingBackslash(currentDir);

  // An interrupted run is finished before anything of the package is read: a package that
  // is missing or refused must not keep the installation half updated.
  std::string knownDir = InstallDirWithoutAsking(platform_);
  if (knownDir.empty()) knownDir = WithoutTrailingBackslash(options_.installDir);
  if (platform_.files.DirectoryExists(knownDir)) RecoverInterruptedRun(knownDir);

  // Without a package description there is nothing to do, and no box is shown.
  state_.packageDescriptionPath = JoinPath(state_.packageDir, text::kDescriptionFileName);
  if (!platform_.files.FileExists(state_.packageDescriptionPath)) {
    Log(text::kLogDescriptionMissing);
    return Terminate(ExitCode::kPackageUnusable);
  }

  // Built with the vendor's key, nothing of an unsigned or altered package is read, and
  // from here on the package is what the gate holds: the confirmation box waits as long
  // as the user likes, and nothing put in the package directory meanwhile is seen.
  if (trust_) {
    HeldPackage held;
    if (!PassPackageGate(platform_, *trust_, state_.packageDir, *runLog_, held)) {
      return Terminate(ExitCode::kPackageUnusable);
    }
    packageFiles_.Seal(state_.packageDir, std::move(held));
  }

  // The installation check never stops the run by itself.
  const bool valid =
      ValidControl(platform_, state_, [this](const std::string& installDir) { RecoverInterruptedRun(installDir); });
  runLog_->LogWithNoSave(text::kLogValidControlDone);
  Log(text::kLogInstallDir + state_.installDir);

  // The log joins the installation as soon as it is known, and held.
  const bool found = platform_.files.DirectoryExists(state_.installDir);
  if (found && !HoldInstallation()) return Terminate(ExitCode::kFailed);
  if (found && options_.logPath.empty()) runLog_->MoveInto(state_.installDir);

  // Nobody can pick a directory or read a box in a quiet run: a run that cannot go on as
  // intended ends here, nothing changed.
  if (!found || StrToIntDef(state_.installedVersion, 0) == 0) {
    failureOutcome_ = ExitCode::kNoInstallation;
    if (options_.quiet) {
      Log(text::kLogNoInstallationFound);
      return Terminate(ExitCode::kNoInstallation);
    }
  } else if (options_.quiet && InstallationTooOld(state_)) {
    return Terminate(ExitCode::kFailed);
  }

  // The installed files the deltas apply to are digested while the question waits for its
  // answer, and held against writers until the plan is made.
  DeltaPlanning deltaPlanning(platform_.files, platform_.system, state_);

  // Confirmation gate.
  if (!AskConfirmation(platform_, text::kAskInstall)) {
    Log(text::kLogAnswerNo);
    return Terminate(ExitCode::kUserDeclined);
  }
  Log(text::kLogAnswerYes);

  // Version gate: a newer installation ends the run, silently when the package carries
  // its companion program.
  const int32_t newVersion = StrToInt(state_.newVersion);
  const int32_t installedVersion = StrToInt(state_.installedVersion);
  if (newVersion < installedVersion) {
    if (!platform_.files.FileExists(text::kActionProgram)) ShowPlainMessage(platform_, text::kInstalledIsNewer);
    return Terminate(ExitCode::kNewerVersionInstalled);
  }

  // An equal version asks whether to apply the update again.
  Log(text::kLogInstalledIsOlder);
  // Left alone in a quiet run, the same package run twice is a clean no-op. Not when a run
  // of it ended without a journal that could take it back or complete it: the version may
  // then be the only thing of it in place, and the package is applied again, whole.
  if (newVersion == installedVersion && RepairDue(platform_.registry, state_.installDir)) {
    Log(text::kLogRepairByApplyingAgain);
  } else if (newVersion == installedVersion && !AskWarning(platform_, text::kAskRepeat)) {
    return Terminate(options_.quiet ? ExitCode::kSuccess : ExitCode::kUserDeclined);
  }

  // Rights gate.
  if (!HasInstallRights(platform_.registry, state_.osFamilyName)) {
    Log(text::kLogNoRights);
    ShowPlainMessage(platform_, text::kNoRights);
    LaunchActionProgram(platform_);
    return Terminate(ExitCode::kFailed);
  }
  Log(text::kLogHasRights);

  // The deltas' plan, from the digests taken meanwhile: nothing is written yet.
  deltaPlan_ = deltaPlanning.Finish();
  if (deltaPlan_ && !deltaPlan_->Applies()) return RefuseDeltas();

  // Files in use and disk space, before anything is written.
  PlannedWrites writes = PlanArchiveWrites(platform_.files, state_);
  if (deltaPlan_) AddDeltaWrites(platform_.files, *deltaPlan_, writes);
  if (!WaitForFilesInUse(platform_, writes, *runLog_, options_, holders_)) {
    return Terminate(options_.quiet ? ExitCode::kTryAgainLater : ExitCode::kUserDeclined);
  }
  // A file another program held could not be digested for the plan; it is free now.
  if (deltaPlan_ && TakeUnreadDigests(platform_.files, *deltaPlan_) && !deltaPlan_->Applies()) return RefuseDeltas();
  for (const PlannedDelta& planned : deltaPlan_ ? deltaPlan_->files : std::vector<PlannedDelta>{}) {
    if (planned.use == PlannedDelta::Use::WholeFile) Log(text::kLogDeltaWholeFile + planned.line.path);
  }
  if (!EnoughDiskSpace(platform_, state_, writes, *runLog_)) return Terminate(ExitCode::kFailed);

  // The labels get their captions before the first of them shows.
  GiveLabelsTheirRunCaptions(platform_.window);

  // From the first change to the control's registration, every change is journaled: the
  // run either completes or the installation is restored as it was.
  std::optional<HoldRefusal> unheld;
  BeginRefusal refusal = BeginRefusal::None;
  transaction_ = UpdateTransaction::Begin(platform_, state_.installDir,
                                          ScopeOfAnUpdate(platform_, state_.installDir).shortcutFolders, &unheld,
                                          &refusal);
  if (unheld) {
    RefuseUnheld(*unheld);
    return Terminate(ExitCode::kFailed);
  }
  // A journal nobody could trust would be no journal: nothing is changed instead.
  if (refusal == BeginRefusal::OwnerRefused) {
    Log(text::kLogJournalOwnerRefused);
    ShowPlainMessage(platform_, FormatText(text::kJournalOwnerRefused, {state_.installDir}));
    return Terminate(ExitCode::kFailed);
  }
  if (!transaction_) {
    throw UpdateError(FormatText(text::kCannotCreateFile, {JoinPath(state_.installDir, kJournalFileName)}));
  }
  // The window answers and shows the unpacking's progress between and inside the steps.
  UpdateProgress progress(platform_);
  ProgressFiles watchedFiles(transaction_->platform().files, progress);
  // Built with the vendor's key, the code loaded as administrator is what the run wrote from
  // the signed package, or a file only administrators can have written.
  const std::string controlPath = JoinPath(state_.installDir, text::kControlFileName);
  SignedCodeWatch signedCode(watchedFiles, {controlPath, DatabaseLibraryPath(state_)});
  Platform changes = WithFiles(transaction_->platform(), trust_ ? static_cast<FileSystem&>(signedCode) : watchedFiles);
  ApplyPackage(changes, valid, writes.bytes, progress);

  // Control: not recorded; only a failed registration stops the run.
  InstallControl(changes, state_, *runLog_, trust_ ? &signedCode : nullptr);
  progress.Turn();
  // The database library is checked before the commit, so that a refusal still takes the
  // run back, and held from then until it is loaded.
  std::optional<HeldCode> heldLibrary;
  if (trust_ && DatabaseNeedsUpdate(changes)) heldLibrary = signedCode.HoldToRun(DatabaseLibraryPath(state_));

  // The commit point. The database update that follows cannot be undone and its result
  // does not stop the run.
  if (!transaction_->Commit()) {
    throw UpdateError(FormatText(text::kCannotCreateFile, {transaction_->JournalPath()}));
  }
  transaction_.reset();
  committed_ = true;
  if (!SetUpDateTable(platform_, state_, trust_ ? &heldLibrary : nullptr)) {
    ShowPlainMessage(platform_, std::string(text::kDatabaseUpdateFailed) + text::kSupportAddress);
  }
  Log(text::kLogAfterDatabase);

  // The run is complete, whatever the database update gave: the quit button shows. An
  // archive that was passed over leaves the package not wholly applied.
  outcome_ = archiveRefused_ ? ExitCode::kPackageUnusable : ExitCode::kSuccess;
  platform_.window.ShowControl(Control::Button1);
}

void TForm1::ApplyPackage(Platform& changes, bool valid, uint64_t bytesToWrite, UpdateProgress& progress) {
  shellLink_.emplace(changes);
  // The uninstall record lives for the installation steps only; when an error ends them
  // it is released unsaved, and the rollback puts back the file as it was.
  Log(text::kLogBeforeRecord);
  WriteLogList record;
  Log(text::kLogAfterRecord);
  platform_.window.ShowControl(Control::Label1);
  const std::string recordPath = UninstallRecordPath(state_.installDir);
  if (changes.files.FileExists(recordPath)) {
    if (record.LoadFromFile(changes.files, recordPath)) {
      Log(text::kLogRecordLoaded);
    } else {
      Log(text::kLogRecordNotRead + recordPath);
    }
  }

  // From here on the window shows how far the run went.
  platform_.window.ShowForm();
  platform_.window.ShowControl(Control::Label2);
  progress.Start(bytesToWrite);

  // A path the release turned from a file into a directory, or the reverse, is cleared
  // before the new one is put there.
  if (const auto cleared = DeleteDroppedFiles(changes, state_, record, DeletePass::InTheWay); cleared && !cleared->empty()) {
    Log(text::kLogDeleteInTheWay);
    for (const DeleteOutcome& outcome : *cleared) LogDeletion(outcome);
  }

  // The main archive into the installation. A quiet run cannot leave the installation
  // without an archive nobody was told about.
  const ArchiveRefused onRefused = [this](const std::string& archive) {
    if (options_.quiet) throw RunStopped(ExitCode::kPackageUnusable, text::kLogArchiveRefusedStop + archive);
    archiveRefused_ = true;
  };
  FileCopy(changes, state_, record, onRefused);
  Log(text::kLogFileCopyDone);
  progress.Turn();

  // Version record.
  if (valid) platform_.window.ShowControl(Control::Label3);
  WritePckname(changes, state_);
  Log(text::kLogWritePcknameDone);
  // The machine's inventory reads the version from the installer's uninstall entry.
  for (const std::string& entry : MjaDisplayVersion(changes, state_)) Log(text::kLogDisplayVersion + entry);
  progress.Turn();

  // New directories, then the archives of the sub-directories.
  Log(text::kLogBeforeCreateNewDir);
  CreateNewDir(changes, state_, record);
  Log(text::kLogBeforeCopyInNewDir);
  if (CopyInNewDir(changes, state_, record, onRefused)) platform_.window.ShowControl(Control::Label6);
  Log(text::kLogAfterCopyInNewDir);
  progress.Turn();

  // Changed files made from their deltas against the installed ones.
  if (deltaPlan_ && !deltaPlan_->files.empty()) {
    Log(text::kLogApplyDeltas);
    // Each file's line reaches the log with the next save: saving the whole log again for
    // each of a release's thousands of files would cost more than making them.
    ApplyDeltas(changes, *deltaPlan_, state_.packageDir,
                [this](const std::string& line) { runLog_->LogWithNoSave(line); });
  }

  // What the release no longer has, once everything it brings is in place.
  if (const auto deletions = DeleteDroppedFiles(changes, state_, record)) {
    Log(text::kLogDeleteDroppedFiles);
    for (const DeleteOutcome& outcome : *deletions) LogDeletion(outcome);
  }

  // Shortcuts: the existing ones take the version label, then the new ones.
  Log(text::kLogBeforeMjaShellLink);
  platform_.window.ShowControl(Control::Label4);
  MjaShellLink(changes, state_, record, *shellLink_);
  Log(text::kLogBeforeAddShellLink);
  AddShellLink(changes, state_, record, *shellLink_);
  progress.Turn();

  // Registry values.
  Log(text::kLogBeforeMjaVarnoReg);
  if (MjaVarnoReg(changes, state_, record)) platform_.window.ShowControl(Control::Label5);
  Log(text::kLogAfterMjaVarnoReg);
  progress.Turn();

  // The record is complete: run marker, then the save.
  platform_.window.SetCaption(Control::Label1, text::kStatusFinished);
  record.AppendRunMarker();
  record.SaveToFile(changes.files, recordPath);
  Log(text::kLogRecordSaved);
}

void TForm1::LogDeletion(const DeleteOutcome& outcome) {
  using Kind = DeleteOutcome::Kind;
  switch (outcome.kind) {
    case Kind::FileRemoved: return Log(text::kLogFileDeleted + outcome.path);
    case Kind::DirectoryRemoved: return Log(text::kLogDirectoryDeleted + outcome.path);
    case Kind::Absent: return Log(text::kLogDeleteAbsent + outcome.path);
    case Kind::DirectoryNotEmpty: return Log(text::kLogDirectoryNotEmpty + outcome.path);
    case Kind::NotRemoved: return Log(text::kLogDeleteFailed + outcome.path);
    case Kind::Refused: return Log(text::kLogDeleteRefused + outcome.path);
  }
}

void TForm1::Terminate(ExitCode outcome) {
  outcome_ = outcome;
  platform_.window.RequestQuit();
}

void TForm1::Log(const std::string& line) { runLog_->Log(line); }

void TForm1::FormDestroy() {
  if (!runLog_) return;
  logPath_ = runLog_->Path();
  try {
    if (options_.quiet) runLog_->LogWithNoSave(FormatText(text::kLogExitCode, {std::to_string(ToInt(outcome_))}));
    runLog_->Finish();
  } catch (const std::exception& error) {
    ShowErrorBox(platform_, error.what());
  }
  runLog_.reset();
}

void TForm1::Button1Click() { platform_.window.RequestQuit(); }

void GiveLabelsTheirRunCaptions(ProgressWindow& window) {
  window.SetCaption(Control::Label1, text::kStatusRunning);
  window.SetCaption(Control::Label2, text::kLabelFiles);
  window.SetCaption(Control::Label3, text::kLabelValidation);
  window.SetCaption(Control::Label4, text::kLabelShortcuts);
  window.SetCaption(Control::Label5, text::kLabelRegistry);
  window.SetCaption(Control::Label6, text::kLabelDirectories);
}

void LaunchActionProgram(Platform& platform) {
  if (platform.files.FileExists(text::kActionProgram)) platform.processes.StartProgram(text::kActionProgram);
}

ExitCode RunApplication(Platform& platform, const std::string& osFamilyName, const PackageTrust* trust,
                        const RunOptions& options, EventLog* events) {
  TForm1 form1(platform, osFamilyName, trust, options);
  form1.FormCreate();
  if (!options.quiet && !platform.window.QuitRequested()) {
    platform.window.ShowForm();
    platform.window.RunMessageLoop([&form1] { form1.Button1Click(); });
  }
  form1.FormDestroy();
  if (events) {
    const RunState& state = form1.State();
    RunOutcome outcome{form1.Outcome(), state.installedVersion,
                       form1.Committed() ? state.newVersion : state.installedVersion, form1.LogPath(), {}};
    for (const FileHolder& holder : form1.FileHoldersFound()) outcome.fileHolders.push_back(DescribeHolder(holder));
    ReportRunOutcome(*events, platform.registry, platform.system, platform.files, outcome);
  }
  return form1.Outcome();
}

}  // namespace varno
