#include "installation/installation.h"

#include "platform/message_boxes.h"
#include "base/ansi_text.h"
#include "base/integer_text.h"
#include "base/texts.h"
#include "package/package_header.h"
#include "platform/registry_access.h"

namespace varno {
namespace {

constexpr const char* kAppPathsKeys[] = {"Software", "Microsoft", "Windows", "CurrentVersion", "App Paths",
                                         "Varnolith.exe"};
constexpr const char* kProductKeys[] = {"Software", "Tolmerik", "Varnolith"};
constexpr char kProductKey[] = "Software\\Tolmerik\\Varnolith";
constexpr char kVersionValue[] = "Version";
constexpr char kPathValue[] = "Path";
constexpr const char* kStandardDirectories[] = {"Program Files\\TolMerik\\Varnolith",
                                                "Program Files (x86)\\TolMerik\\Varnolith"};

// "C:" of "C:\WINDOWS", "\\server\share" of a UNC path.
std::string DriveOf(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  if (path.starts_with("\\\\")) {
    const size_t share = path.find('\\', 2);
    if (share == std::string::npos) return path;
    const size_t end = path.find('\\', share + 1);
    return path.substr(0, end);
  }
  return {};
}

// The App Paths entry of the program, one key after the other, creating nothing.
bool ReadAppPath(Platform& platform, std::string* directory) {
  RegistryAccess registry(platform.registry);
  registry.SetRootKey(kHkeyLocalMachine);
  registry.SetAccess(kKeyRead);
  for (const char* key : kAppPathsKeys) {
    if (!registry.OpenKey(key, false)) return false;
  }
  if (!registry.ValueExists(kPathValue)) return false;
  *directory = registry.ReadString(kPathValue);
  return true;
}

}  // namespace

bool ValidControl(Platform& platform, RunState& state, const InstallationFound& onFound) {
  if (auto header = ReadPackageHeader(platform, state.packageDescriptionPath)) {
    state.newVersion = header->newVersion;
    state.minFileVersionNumber = header->minFileVersionNumber;
    state.minInstalledVersion = header->minInstalledVersion;
    state.versionLabel = header->versionLabel;
  }
  if (!FindInstallation(platform, state, onFound)) return false;

  const int32_t installed = StrToIntDef(state.installedVersion, 0);
  if (InstallationTooOld(state)) {
    ShowPlainMessage(platform, text::kInstallationTooOld);
    return false;
  }
  // A newer installation is no failure here: the driver's own gate handles it.
  return StrToInt(state.newVersion) >= installed;
}

bool InstallationTooOld(const RunState& state) {
  return StrToIntDef(state.installedVersion, 0) < state.minInstalledVersion ||
         state.fileVersionNumber < state.minFileVersionNumber;
}

bool FindInstallation(Platform& platform, RunState& state, const InstallationFound& onFound) {
  bool complete = ReadAppPath(platform, &state.installDir);

  if (!complete || !platform.files.DirectoryExists(state.installDir)) {
    state.installDir = GuessInstallDir(platform);
    if (!platform.files.DirectoryExists(state.installDir)) return false;
    complete = true;
  }
  if (state.installDir.size() < 3) return false;
  state.installDir = WithoutTrailingBackslash(state.installDir);
  if (onFound) onFound(state.installDir);

  RegistryAccess registry(platform.registry);
  registry.SetRootKey(kHkeyLocalMachine);
  registry.SetAccess(kKeyRead);
  if (!registry.OpenKey(kProductKey, false)) {
    complete = false;
  } else if (registry.ValueExists(kVersionValue)) {
    state.installedVersion = registry.ReadString(kVersionValue);
  }

  if (StrToIntDef(state.installedVersion, 0) == 0) complete = false;

  if (!platform.files.DirectoryExists(state.installDir)) {
    complete = false;
  } else {
    for (const char* file : {text::kProgramFile, text::kAdminProgramFile, text::kAdminLibraryFile}) {
      if (!platform.files.FileExists(JoinPath(state.installDir, file))) complete = false;
    }
  }

  state.fileVersionNumber = FileVersionNumberOf(ReadFileVersion(platform, JoinPath(state.installDir, text::kProgramFile)));
  return complete;
}

namespace {

std::string StandardInstallDir(Platform& platform) {
  const std::string root = DriveOf(platform.system.WindowsDirectory()) + "\\";
  for (const char* directory : kStandardDirectories) {
    if (platform.files.DirectoryExists(root + directory)) return root + directory;
  }
  return {};
}

}  // namespace

std::string GuessInstallDir(Platform& platform) {
  const std::string standard = StandardInstallDir(platform);
  return standard.empty() ? platform.dialogs.SelectDirectory() : standard;
}

std::string InstallDirWithoutAsking(Platform& platform) {
  std::string directory;
  if (!ReadAppPath(platform, &directory) || !platform.files.DirectoryExists(directory)) {
    directory = StandardInstallDir(platform);
  }
  return directory.size() < 3 ? std::string() : WithoutTrailingBackslash(directory);
}

FileVersionWords ReadFileVersion(Platform& platform, const std::string& path) {
  return platform.system.FixedFileVersion(path).value_or(FileVersionWords{});
}

uint8_t FileVersionNumberOf(const FileVersionWords& version) {
  const uint32_t major = version.mostSignificant >> 16;
  const uint32_t minor = version.mostSignificant & 0xFFFF;
  return static_cast<uint8_t>((major * 10 + minor) & 0xFF);
}

void WritePckname(Platform& platform, const RunState& state) {
  RegistryAccess registry(platform.registry);
  registry.SetRootKey(kHkeyLocalMachine);
  registry.SetAccess(kKeyAllAccess);
  for (const char* key : kProductKeys) {
    if (!registry.OpenKey(key, true)) return;
  }
  registry.WriteString(kVersionValue, state.newVersion);
}

}  // namespace varno
