#include "shortcuts/shell_link.h"

#include <algorithm>

#include "platform/message_boxes.h"
#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "platform/registry_access.h"

namespace varno {
namespace {

// Spelled as the service has always spelled it; registry names ignore case anyway.
constexpr char kShellFoldersKey[] = "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kLinkExtension[] = ".lnk";

// What the reading of a .lnk file relies on.
constexpr size_t kDriveLetterOffset = 101;
constexpr size_t kScanStart = 103;
constexpr size_t kMaxRead = 455;
constexpr size_t kMaxTargetLength = 255;
// A real shortcut is a few kilobytes; the whole file is read into memory, so anything
// larger is no shortcut and is left unread.
constexpr uint64_t kMaxLinkFileSize = 1u << 20;

bool EndsWithLinkExtension(std::string_view path) {
  return path.size() >= 4 && AsciiSameText(path.substr(path.size() - 4), kLinkExtension);
}

std::string ReadLinkFile(FileSystem& files, const std::string& path) {
  auto file = files.OpenForReading(path);
  if (!file) return {};
  const uint64_t size = file->Size();
  if (size > kMaxLinkFileSize) return {};
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t filled = 0;
  // A read that fails ends the bytes there, as the reads past it would have given nothing.
  while (filled < bytes.size()) {
    const size_t read = file->Read(bytes.data() + filled, bytes.size() - filled);
    if (read == 0) break;
    filled += read;
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace

std::string DesktopLinkName(std::string_view target, std::string_view name) {
  return name.empty() ? text::kDesktopLinkDefaultPrefix + std::string(LastComponent(target)) : std::string(name);
}

std::string ProgramsLinkName(std::string_view target, std::string_view name) {
  return name.empty() ? text::kProgramsLinkDefaultPrefix + std::string(LastComponent(target)) : std::string(name);
}

bool StaysInFolder(std::string_view relative) {
  if (!relative.empty() && (relative.front() == '\\' || relative.front() == '/')) return false;
  if (relative.find(':') != std::string_view::npos) return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = relative.size();
    const std::string_view part = relative.substr(start, end - start);
    // Windows drops trailing dots and blanks from a name, so ". ." or "..." can climb too.
    if (std::count(part.begin(), part.end(), '.') >= 2 && part.find_first_not_of(". ") == std::string_view::npos) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

std::string LinkTargetFromBytes(std::string_view bytes) {
  if (bytes.size() <= kDriveLetterOffset) return {};
  const char drive = bytes[kDriveLetterOffset];
  const auto letter = static_cast<unsigned char>(drive);
  if (letter < 0x41 || letter > 0x7A) return {};

  // The drive item itself ("C:\" at 101) lies before the scan; the first match after it is
  // the link information's 8-bit path. The letter is compared exactly.
  const char start[3] = {drive, ':', '\\'};
  const size_t match = bytes.find(std::string_view(start, 3), kScanStart);
  if (match == std::string_view::npos) return LinkTargetFallback(bytes, drive);

  const std::string_view window = bytes.substr(match, std::min(bytes.size() - match, kMaxRead));
  const size_t end = window.find('\0');
  if (end == std::string_view::npos || end > kMaxTargetLength) return {};
  const std::string_view target = window.substr(0, end);
  // A path ending in "\" (a bare drive root most often) is not taken as the target.
  if (target.back() == '\\') return LinkTargetFallback(bytes, drive);
  return std::string(target);
}

std::string LinkTargetFallback(std::string_view bytes, char drive) {
  static constexpr char kUpTwice[14] = {'\\', 0, '.', 0, '.', 0, '\\', 0, '.', 0, '.', 0, '\\', 0};
  const size_t climb = bytes.find(std::string_view(kUpTwice, sizeof(kUpTwice)), kScanStart);
  if (climb == std::string_view::npos) return {};
  const size_t rest = climb + sizeof(kUpTwice);
  if (bytes.size() - rest < 2) return {};

  const std::string_view window = bytes.substr(rest, std::min(bytes.size() - rest, kMaxRead));
  const char next[6] = {drive, 0, ':', 0, '\\', 0};
  const size_t nextString = window.find(std::string_view(next, sizeof(next)), 2);
  if (nextString == std::string_view::npos) return {};
  // The 2-byte length of the next string ends the relative path.
  const size_t units = (nextString - 2) / 2;
  std::string target{drive, ':', '\\'};
  for (size_t i = 0; i < units; ++i) target += window[2 * i];
  return target;
}

std::string ShellLink::ReadShellFolder(ShellFolder folder, int scope) {
  const bool allUsers = scope == kAllUsers;
  const char* name = folder == ShellFolder::Desktop ? (allUsers ? "Common Desktop" : "Desktop")
                                                    : (allUsers ? "Common Programs" : "Programs");
  RegistryAccess registry(platform_.registry);
  registry.SetRootKey(allUsers ? kHkeyLocalMachine : kHkeyCurrentUser);
  registry.SetAccess(kKeyRead);
  if (!registry.OpenKey(kShellFoldersKey, false)) return {};
  try {
    return registry.ReadString(name);
  } catch (const UpdateError&) {
    // A value of another type names no folder; the fallback takes over as for a missing one.
    return {};
  }
}

void ShellLink::SetCommonDesktop() { desktopFolder_ = ReadShellFolder(ShellFolder::Desktop, kAllUsers); }
void ShellLink::SetUserDesktop() { desktopFolder_ = ReadShellFolder(ShellFolder::Desktop, kCurrentUser); }
void ShellLink::SetCommonPrograms() { programsFolder_ = ReadShellFolder(ShellFolder::Programs, kAllUsers); }
void ShellLink::SetUserPrograms() { programsFolder_ = ReadShellFolder(ShellFolder::Programs, kCurrentUser); }

bool ShellLink::EnsureDesktopFolder() {
  if (!platform_.files.DirectoryExists(desktopFolder_)) SetCommonDesktop();
  return !desktopFolder_.empty();
}

bool ShellLink::EnsureProgramsFolder() {
  if (!platform_.files.DirectoryExists(programsFolder_)) SetCommonPrograms();
  return !programsFolder_.empty();
}

bool ShellLink::SaveLink(const std::string& target, const std::string& arguments, const std::string& linkPath) {
  // The working directory keeps its trailing backslash ("C:\App\").
  switch (platform_.shell.SaveShellLink({target, arguments, std::string(DirectoryPart(target))}, linkPath)) {
    case LinkSave::Saved: return true;
    case LinkSave::NotSaved: return false;
    case LinkSave::NoLinkObject: throw UpdateError(text::kLinkObjectFailed);
  }
  return false;
}

bool ShellLink::CreateDesktopLink(const std::string& target, const std::string& arguments, const std::string& name) {
  if (target.empty() || !EnsureDesktopFolder()) return false;
  const std::string fileName = DesktopLinkName(target, name);
  if (!StaysInFolder(fileName)) return false;
  return SaveLink(target, arguments, JoinPath(desktopFolder_, fileName + kLinkExtension));
}

bool ShellLink::CreateProgramsLink(const std::string& target, const std::string& arguments, const std::string& name,
                                   const std::string& group) {
  if (target.empty() || !EnsureProgramsFolder()) return false;
  const std::string fileName = ProgramsLinkName(target, name);
  if (!StaysInFolder(fileName) || !StaysInFolder(group)) return false;
  const std::string folder = group.empty() ? programsFolder_ : JoinPath(programsFolder_, group);
  return SaveLink(target, arguments, JoinPath(folder, fileName + kLinkExtension));
}

std::string ShellLink::GetLinkTarget(const std::string& path) {
  if (path.empty()) return {};
  if (!EndsWithLinkExtension(path)) {
    ShowPlainMessage(platform_, text::kNotAShortcut);
    return {};
  }
  if (!platform_.files.FileExists(path)) {
    ShowPlainMessage(platform_, text::kShortcutNotFound);
    return {};
  }
  return LinkTargetFromBytes(ReadLinkFile(platform_.files, path));
}

bool ShellLink::FindDesktopLink(const std::string& target, std::string* linkName) {
  linkName->clear();
  if (!EnsureDesktopFolder()) return false;
  auto listing = platform_.files.ListMatching(JoinPath(desktopFolder_, "*.lnk"));
  while (const auto entry = listing->Next()) {
    if (AsciiSameText(GetLinkTarget(JoinPath(desktopFolder_, entry->name)), target)) {
      *linkName = entry->name;
      return true;
    }
  }
  return false;
}

std::string ShellLink::FirstMatchName(const std::string& pattern) {
  const auto first = platform_.files.ListMatching(pattern)->Next();
  return first ? first->name : std::string();
}

bool ShellLink::ProgramsLinkExists(const std::string& group, const std::string& prefix) {
  if (!EnsureProgramsFolder()) return false;
  const auto first =
      platform_.files.ListMatching(JoinPath(JoinPath(programsFolder_, group), prefix + "*" + kLinkExtension))->Next();
  return first && !first->isDirectory;
}

bool ShellLink::MoveToFreeName(const std::string& folder, const std::string& found, const std::string& newName) {
  std::string destination = JoinPath(folder, newName + kLinkExtension);
  for (int k = 2; platform_.files.FileExists(destination); ++k) {
    destination = JoinPath(folder, newName + "~" + std::to_string(k) + kLinkExtension);
  }
  return platform_.files.MoveFileTo(JoinPath(folder, found), destination);
}

bool ShellLink::RenameLinkOnDesktop(const std::string& target, const std::string& newName) {
  std::string found;
  if (!FindDesktopLink(target, &found)) return false;
  if (newName.empty() || !StaysInFolder(newName)) return false;
  if (AsciiSameText(found, newName + kLinkExtension)) return false;
  return MoveToFreeName(desktopFolder_, found, newName);
}

bool ShellLink::RenameLinkInPrograms(const std::string& group, const std::string& prefix, const std::string& newName) {
  if (!EnsureProgramsFolder()) return false;
  const std::string folder = JoinPath(programsFolder_, group);
  const std::string found = FirstMatchName(JoinPath(folder, prefix + "*" + kLinkExtension));
  if (AsciiSameText(found, newName + kLinkExtension)) return false;
  if (!platform_.files.FileExists(JoinPath(folder, found))) return false;
  if (!StaysInFolder(newName)) return false;
  return MoveToFreeName(folder, found, newName);
}

}  // namespace varno
