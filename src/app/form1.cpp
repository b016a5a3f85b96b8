#include "app/form1.h"

#include "app/message_boxes.h"
#include "base/ansi_text.h"
#include "base/integer_text.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "components/control_registration.h"
#include "shortcuts/desktop_directory.h"
#include "shortcuts/shortcut_steps.h"
#include "steps/file_steps.h"
#include "steps/registry_step.h"
#include "steps/uninstall_record.h"
#include "target/install_rights.h"
#include "target/installation.h"

namespace varno {

TForm1::TForm1(Platform& platform, const std::string& osFamilyName, const PackageTrust* trust)
    : platform_(platform), shellLink_(platform), trust_(trust) {
  state_.osFamilyName = osFamilyName;
}

void TForm1::FormCreate() {
  try {
    RunDriver();
  } catch (const std::exception& error) {
    // The system's own errors, and anything unforeseen (memory exhausted, say): either
    // ends the driver in the error box rather than ending the program unseen.
    ShowErrorBox(platform_, error.what());
  }
}

void TForm1::RunDriver() {
  // 1. The run log, on the desktop when there is one.
  runLog_.emplace(platform_.files);
  runLog_->Start(UserDesktopPath(platform_.shell));

  // 2. The package directory is the directory the updater was started from.
  const std::string currentDir = platform_.system.CurrentDirectory();
  Log(text::kLogCurrentDir + currentDir);
  state_.packageDir = WithoutTrailingBackslash(currentDir);

  // 3. Without a package description there is nothing to do, and no box is shown.
  state_.packageDescriptionPath = JoinPath(state_.packageDir, text::kDescriptionFileName);
  if (!platform_.files.FileExists(state_.packageDescriptionPath)) {
    Log(text::kLogDescriptionMissing);
    return Terminate();
  }

  // 3b. Built with the vendor's key, nothing of an unsigned or altered package is read.
  if (trust_ && !PassPackageGate(platform_, *trust_, state_.packageDir, *runLog_, heldPackage_)) return Terminate();

  // 4-5. The installation check never stops the run by itself.
  const bool valid = ValidControl(platform_, state_);
  runLog_->LogWithNoSave(text::kLogValidControlDone);
  Log(text::kLogInstallDir + state_.installDir);

  // 6. The log joins the installation as soon as it is known.
  if (platform_.files.DirectoryExists(state_.installDir)) runLog_->MoveInto(state_.installDir);

  // 7. Confirmation.
  if (!AskConfirmation(platform_, text::kAskInstall)) {
    Log(text::kLogAnswerNo);
    return Terminate();
  }
  Log(text::kLogAnswerYes);

  // 8. Version gate: a newer installation ends the run, silently when the package carries
  // its companion program.
  const int32_t newVersion = StrToInt(state_.newVersion);
  const int32_t installedVersion = StrToInt(state_.installedVersion);
  if (newVersion < installedVersion) {
    if (!platform_.files.FileExists(text::kActionProgram)) ShowPlainMessage(platform_, text::kInstalledIsNewer);
    return Terminate();
  }

  // 9. An equal version asks whether to apply the update again.
  Log(text::kLogInstalledIsOlder);
  if (newVersion == installedVersion && !AskWarning(platform_, text::kAskRepeat)) return Terminate();

  // 10. Rights.
  if (!HasInstallRights(platform_.registry, state_.osFamilyName)) {
    Log(text::kLogNoRights);
    ShowPlainMessage(platform_, text::kNoRights);
    LaunchActionProgram(platform_);
    return Terminate();
  }
  Log(text::kLogHasRights);

  // 11.
  GiveLabelsTheirRunCaptions(platform_.window);

  ApplyPackage(valid);

  // 23. The closing stages are not recorded; only a failed registration stops the run.
  InstallControl(platform_, state_, *runLog_);
  if (!SetUpDateTable(platform_, state_)) {
    ShowPlainMessage(platform_, std::string(text::kDatabaseUpdateFailed) + text::kSupportAddress);
  }
  Log(text::kLogAfterDatabase);

  // 24.
  platform_.window.ShowControl(Control::Button1);
}

void TForm1::ApplyPackage(bool valid) {
  // 12-13. The uninstall record lives for the installation steps only; when an error ends
  // them it is released unsaved, so nothing of this run is recorded.
  Log(text::kLogBeforeRecord);
  WriteLogList record;
  Log(text::kLogAfterRecord);
  platform_.window.ShowControl(Control::Label1);
  const std::string recordPath = UninstallRecordPath(state_.installDir);
  if (platform_.files.FileExists(recordPath)) {
    record.LoadFromFile(platform_.files, recordPath);
    Log(text::kLogRecordLoaded);
  }

  // 14. From here on the window shows how far the run went.
  platform_.window.ShowForm();
  platform_.window.ShowControl(Control::Label2);

  // 15.
  FileCopy(platform_, state_, record);
  Log(text::kLogFileCopyDone);

  // 16. Version record.
  if (valid) platform_.window.ShowControl(Control::Label3);
  WritePckname(platform_, state_);
  Log(text::kLogWritePcknameDone);

  // 17-18.
  Log(text::kLogBeforeCreateNewDir);
  CreateNewDir(platform_, state_, record);
  Log(text::kLogBeforeCopyInNewDir);
  if (CopyInNewDir(platform_, state_, record)) platform_.window.ShowControl(Control::Label6);
  Log(text::kLogAfterCopyInNewDir);

  // 19.
  Log(text::kLogBeforeMjaShellLink);
  platform_.window.ShowControl(Control::Label4);
  MjaShellLink(platform_, state_, record, shellLink_);
  Log(text::kLogBeforeAddShellLink);
  AddShellLink(platform_, state_, record, shellLink_);

  // 20.
  Log(text::kLogBeforeMjaVarnoReg);
  if (MjaVarnoReg(platform_, state_, record)) platform_.window.ShowControl(Control::Label5);
  Log(text::kLogAfterMjaVarnoReg);

  // 21-22.
  platform_.window.SetCaption(Control::Label1, text::kStatusFinished);
  record.AppendRunMarker();
  record.SaveToFile(platform_.files, recordPath);
  Log(text::kLogRecordSaved);
}

void TForm1::Terminate() { platform_.window.RequestQuit(); }

void TForm1::Log(const std::string& line) { runLog_->Log(line); }

void TForm1::FormDestroy() {
  if (!runLog_) return;
  try {
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

void RunApplication(Platform& platform, const std::string& osFamilyName, const PackageTrust* trust) {
  TForm1 form1(platform, osFamilyName, trust);
  form1.FormCreate();
  if (!platform.window.QuitRequested()) {
    platform.window.ShowForm();
    platform.window.RunMessageLoop([&form1] { form1.Button1Click(); });
  }
  form1.FormDestroy();
}

}  // namespace varno
