#include "steps/programs_entry.h"

#include "base/ansi_text.h"
#include "base/windows_path.h"
#include "platform/registry_access.h"

namespace varno {
namespace {

bool IsFull(std::string_view path) {
  return (path.size() >= 3 && path[1] == ':' && IsPathSeparator(path[2])) || path.starts_with("\\\\");
}

// The text inside the quotes that open it, or the whole text, blanks trimmed.
std::string Unquoted(std::string_view text) {
  std::string trimmed = TrimBlanks(text);
  if (!trimmed.starts_with('"')) return trimmed;
  const size_t end = trimmed.find('"', 1);
  return trimmed.substr(1, end == std::string::npos ? std::string::npos : end - 1);
}

// "C:\App\app.exe,0" or "C:\App\app.exe,-101": the icon index goes.
std::string WithoutIconIndex(std::string path) {
  const size_t comma = path.rfind(',');
  if (comma == std::string::npos) return path;
  const std::string index = TrimBlanks(std::string_view(path).substr(comma + 1));
  const size_t digits = index.starts_with('-') ? 1 : 0;
  if (index.size() > digits && index.find_first_not_of("0123456789", digits) == std::string::npos) path.resize(comma);
  return path;
}

// An unquoted command: the program ends where its first switch begins.
std::string WithoutArguments(std::string path) {
  for (size_t at = path.find(' '); at != std::string::npos; at = path.find(' ', at + 1)) {
    if (at + 1 < path.size() && (path[at + 1] == '/' || path[at + 1] == '-')) return path.substr(0, at);
  }
  return path;
}

bool Inside(const std::string& path, const std::string& directory) {
  if (!IsFull(path)) return false;
  const std::string full = FullPath(path, directory);
  const std::string dir = WithoutTrailingBackslash(directory);
  return full.size() > dir.size() + 1 && full[dir.size()] == '\\' && AnsiSameText(full.substr(0, dir.size()), dir);
}

bool EntryDescribes(Registry& registry, RegKey uninstall, const std::string& name, const std::string& installDir) {
  RegKey entry = 0;
  if (registry.OpenKey(uninstall, name, kKeyRead, false, &entry) != kRegSuccess) return false;
  const bool describes =
      DescribesInstallation(StringValueOf(registry, entry, "InstallLocation"), StringValueOf(registry, entry, "DisplayIcon"),
                            StringValueOf(registry, entry, "UninstallString"), installDir);
  registry.CloseKey(entry);
  return describes;
}

}  // namespace

bool DescribesInstallation(std::string_view installLocation, std::string_view displayIcon,
                           std::string_view uninstallString, const std::string& installDir) {
  const std::string dir = WithoutTrailingBackslash(installDir);
  if (dir.empty()) return false;
  const std::string location = WithoutTrailingBackslash(Unquoted(installLocation));
  if (IsFull(location) && AnsiSameText(FullPath(location, dir), dir)) return true;
  if (Inside(WithoutIconIndex(Unquoted(displayIcon)), dir)) return true;
  const std::string command = TrimBlanks(uninstallString);
  return Inside(command.starts_with('"') ? Unquoted(command) : WithoutArguments(command), dir);
}

std::vector<std::string> MjaDisplayVersion(Platform& platform, const RunState& state) {
  std::vector<std::string> found;
  if (state.versionLabel.empty()) return found;
  RegKey uninstall = 0;
  if (platform.registry.OpenKey(kHkeyLocalMachine, kUninstallKey, kKeyRead, false, &uninstall) != kRegSuccess) {
    return found;
  }
  std::string name;
  for (uint32_t index = 0; platform.registry.SubKeyName(uninstall, index, &name) == kRegSuccess; ++index) {
    if (EntryDescribes(platform.registry, uninstall, name, state.installDir)) found.push_back(name);
  }
  platform.registry.CloseKey(uninstall);

  // Written once the list is whole: a write while the keys are listed may change their order.
  std::vector<std::string> written;
  for (const std::string& entry : found) {
    RegistryAccess registry(platform.registry);
    registry.SetRootKey(kHkeyLocalMachine);
    registry.SetAccess(kKeyRead | kKeySetValue);
    if (!registry.OpenKey(std::string(kUninstallKey) + "\\" + entry, false)) continue;
    registry.WriteString(kDisplayVersionValue, state.versionLabel);
    written.push_back(entry);
  }
  return written;
}

}  // namespace varno
