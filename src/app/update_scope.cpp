#include "app/update_scope.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/windows_path.h"
#include "platform/registry_access.h"
#include "shortcuts/shell_link.h"

namespace varno {
namespace {

constexpr char kProfileListKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The shell folders inside a profile, as the Windows versions the updater supports name
// them (English and French, before and after Vista): what an account other than the one
// recovering may have had its shortcuts in.
constexpr const char* kProfileShortcutFolders[] = {
    "Desktop",
    "Bureau",
    "Start Menu\\Programs",
    "Menu Démarrer\\Programmes",
    "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
};

std::string ReplaceVariable(std::string text, const std::string& name, const std::string& value) {
  const std::string upper = AnsiUpperCase(text);
  const size_t at = upper.find(AnsiUpperCase(name));
  if (at != std::string::npos && !value.empty()) text.replace(at, name.size(), value);
  return text;
}

// Where the profiles of the machine's accounts are made ("C:\Users"); empty when unknown.
std::string ProfilesDirectory(Platform& platform) {
  RegKey key = 0;
  if (platform.registry.OpenKey(kHkeyLocalMachine, kProfileListKey, kKeyRead, false, &key) != kRegSuccess) return {};
  std::string data = StringValueOf(platform.registry, key, "ProfilesDirectory");
  platform.registry.CloseKey(key);
  if (data.empty()) return {};
  const std::string windows = WithoutTrailingBackslash(platform.system.WindowsDirectory());
  data = ReplaceVariable(data, "%SystemRoot%", windows);
  data = ReplaceVariable(data, "%SystemDrive%", windows.substr(0, 2));
  return data.find('%') == std::string::npos ? WithoutTrailingBackslash(data) : std::string();
}

}  // namespace

JournalScope ScopeOfAnUpdate(Platform& platform, const std::string& installDir) {
  JournalScope scope;
  scope.installDir = installDir;
  const std::string systemDir = WithoutTrailingBackslash(platform.system.SystemDirectory());
  if (!systemDir.empty()) scope.controlPath = JoinPath(systemDir, text::kControlFileName);
  scope.profilesDir = ProfilesDirectory(platform);
  for (const char* folder : kProfileShortcutFolders) scope.profileShortcutFolders.emplace_back(folder);
  ShellLink folders(platform);
  for (const ShellFolder folder : {ShellFolder::Desktop, ShellFolder::Programs}) {
    for (const int who : {kAllUsers, kCurrentUser}) {
      const std::string path = folders.ReadShellFolder(folder, who);
      if (path.empty()) continue;
      scope.shortcutFolders.push_back(path);
      // The folder's name inside this account's profile, as this machine's language gives it.
      const std::string profiles = scope.profilesDir + "\\";
      if (who == kCurrentUser && !scope.profilesDir.empty() && path.size() > profiles.size() &&
          AnsiSameText(path.substr(0, profiles.size()), profiles)) {
        const size_t account = path.find('\\', profiles.size());
        if (account != std::string::npos) scope.profileShortcutFolders.push_back(path.substr(account + 1));
      }
    }
  }
  return scope;
}

}  // namespace varno
