#include "components/control_registration.h"

#include "platform/message_boxes.h"
#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "platform/registry_access.h"

namespace varno {
namespace {

constexpr char kDatabaseLibrary[] = "\\VarnoUpDate.dll";
constexpr char kRegisterExport[] = "DllRegisterServer";
constexpr char kDatabaseExport[] = "VarnoTableInstall";
constexpr const char* kProductKeys[] = {"Software", "Tolmerik", "Varnolith"};
constexpr char kDatabaseLevelValue[] = "VarnoInst";
constexpr int kDatabaseUpToDate = 15;

// The database level: the low byte of "VarnoInst", 0 when the key or the value is missing.
int DatabaseLevel(Platform& platform) {
  RegistryAccess registry(platform.registry);
  registry.SetRootKey(kHkeyLocalMachine);
  registry.SetAccess(kKeyRead);
  for (const char* key : kProductKeys) {
    if (!registry.OpenKey(key, false)) return 0;
  }
  if (!registry.ValueExists(kDatabaseLevelValue)) return 0;
  return static_cast<int>(static_cast<uint32_t>(registry.ReadInteger(kDatabaseLevelValue)) & 0xFF);
}

}  // namespace

void RegisterOCX(Platform& platform, const std::string& path) {
  if (!platform.files.FileExists(path)) return;
  const LibraryHandle library = platform.libraries.Load(path);
  if (!library) throw UpdateError(FormatText(text::kLibraryLoadFailed, {path}));
  const auto status = platform.libraries.CallExport(library, kRegisterExport);
  platform.libraries.Free(library);
  if (!status) throw UpdateError(FormatText(text::kExportNotFound, {kRegisterExport, path}));
  if (*status != 0) throw UpdateError(FormatText(text::kExportFailed, {kRegisterExport, path}));
}

void InstallControl(Platform& platform, const RunState& state, LineLog& log, SignedCodeWatch* signedCode) {
  FileSystem& files = platform.files;
  const std::string systemDir = WithoutTrailingBackslash(platform.system.SystemDirectory());
  const std::string systemControl = systemDir + "\\" + text::kControlFileName;
  const std::string installedControl = state.installDir + "\\" + text::kControlFileName;
  log.Log(text::kLogBeforeControl);
  // Checked before anything of the system directory changes; held until it is registered.
  const std::optional<HeldCode> held = signedCode ? signedCode->HoldToRun(installedControl) : std::nullopt;

  if (!systemDir.empty() && files.FileExists(systemControl)) {
    log.Log(systemControl + (files.RemoveFile(systemControl) ? text::kLogControlDeleted : text::kLogControlNotDeleted));
  }
  // Without a system directory the copy would aim at the root of the current drive: it
  // counts as a failed copy instead. A held control is copied from the bytes checked.
  const auto copy = [&] {
    if (!held) return files.CopyFileTo(installedControl, systemControl);
    auto destination = files.CreateReplacement(systemControl);
    return destination && CopyAndCommit(*held->file, *destination);
  };
  // Without its check, nothing that appears at the control's name later is copied.
  if (!systemDir.empty() && (held || !signedCode) && copy()) {
    if (files.FileExists(systemControl)) {
      log.Log(text::kLogRegisteringControl + systemDir);
      RegisterOCX(platform, systemControl);
    } else {
      ShowPlainMessage(platform, systemControl + text::kControlMissing);
    }
  } else {
    log.Log(text::kLogControlCopyFailed + systemDir);
    // A held control cannot change while it is registered where it lies.
    if (files.FileExists(installedControl) && (!signedCode || held)) {
      RegisterOCX(platform, installedControl);
    } else {
      ShowPlainMessage(platform, installedControl + text::kControlMissing);
    }
  }
  log.Log(text::kLogAfterControl);
}

std::string DatabaseLibraryPath(const RunState& state) { return state.installDir + kDatabaseLibrary; }

bool DatabaseNeedsUpdate(Platform& platform) { return DatabaseLevel(platform) < kDatabaseUpToDate; }

bool SetUpDateTable(Platform& platform, const RunState& state, const std::optional<HeldCode>* held) {
  if (!DatabaseNeedsUpdate(platform)) return true;
  if (held && !*held) return false;
  const LibraryHandle library = platform.libraries.Load(DatabaseLibraryPath(state));
  if (!library) return false;
  const auto result = platform.libraries.CallExport(library, kDatabaseExport);
  platform.libraries.Free(library);
  // Only the low byte of the result is the success flag.
  return result && (*result & 0xFF) != 0;
}

}  // namespace varno
