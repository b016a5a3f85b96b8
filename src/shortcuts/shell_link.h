// The shell link service: shortcuts (.lnk files) on the desktop and in the Programs folder
// of the Start menu, each for all users or for the current user. Shortcuts are created
// through the shell's link object, their targets are read from the bytes of the files
// themselves, and they are found by target or by name and renamed. Wherever this service
// compares names or paths without regard to case, only a-z and A-Z are folded.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace varno {

enum class ShellFolder { Desktop, Programs };

// The scopes of the folders, as the numbers the service has always used for them.
inline constexpr int kAllUsers = 0;
inline constexpr int kCurrentUser = 1;

// The file name a created shortcut takes, without ".lnk": the name given, or for an empty
// one the target's file name after "Raccourci vers " on the desktop and after
// "Raccourci vers" (no blank) in a program group.
std::string DesktopLinkName(std::string_view target, std::string_view name);
std::string ProgramsLinkName(std::string_view target, std::string_view name);

// False for a name or group that would put a file outside its folder: one that starts with
// "\" or "/", holds a ":" (a drive or a stream) or has a component made of dots and blanks
// only with two dots or more.
bool StaysInFolder(std::string_view relative);

// The target path that the bytes of a .lnk file hold, by the service's reading: the byte at
// offset 101 is the drive letter D; the first D ":" "\" from offset 103 on starts the 8-bit
// path, ended by a zero byte; a path ending in "\" (a drive root), or none, sends the
// reading to LinkTargetFallback. Empty when the bytes hold no such target, when the drive
// byte is no letter between 'A' and 'z', or when the path is longer than 255 characters or
// not ended within the 455 bytes read from its start.
std::string LinkTargetFromBytes(std::string_view bytes);

// The target rebuilt from the UTF-16 relative path of a link placed three levels below its
// drive root: what follows the first "\..\..\" (from offset 103 on), up to the 2-byte length
// of the next string when that string starts with D ":" "\", with the high byte of every
// character dropped, after D ":\". Empty when either is missing within 455 bytes.
std::string LinkTargetFallback(std::string_view bytes, char drive);

class ShellLink {
 public:
  // The two folders start empty: the first operation that needs one takes the all-users
  // folder.
  explicit ShellLink(Platform& platform) : platform_(platform) {}
  ShellLink(const ShellLink&) = delete;
  ShellLink& operator=(const ShellLink&) = delete;

  const std::string& DesktopFolder() const { return desktopFolder_; }
  const std::string& ProgramsFolder() const { return programsFolder_; }

  // The path in the "Shell Folders" value of the folder and scope; empty when the key or
  // the value is missing or the value is no string.
  std::string ReadShellFolder(ShellFolder folder, int scope);
  void SetCommonDesktop();
  void SetUserDesktop();
  void SetCommonPrograms();
  void SetUserPrograms();

  // Saves DesktopFolder\name.lnk to the target, with the target's directory (trailing "\"
  // kept) as working directory, replacing a file of that name. True only when the shell
  // saved it; an empty target, a name that would leave the folder or no desktop folder
  // known at all gives false. A link object that cannot be created raises
  // "Impossible de créer l'objet raccourci".
  bool CreateDesktopLink(const std::string& target, const std::string& arguments, const std::string& name);

  // The same in ProgramsFolder\group (ProgramsFolder itself for an empty group), which must
  // exist already.
  bool CreateProgramsLink(const std::string& target, const std::string& arguments, const std::string& name,
                          const std::string& group);

  // The target of the .lnk file at path (LinkTargetFromBytes), or empty. A path not ending
  // in ".lnk" shows "Le fichier visé n'est pas un raccourci Windows", a missing file
  // "Raccourci non trouvé à l'endroit spécifié" (plain message boxes). A file that cannot be
  // read, or of more than a mebibyte (no shortcut is that large), gives empty silently.
  std::string GetLinkTarget(const std::string& path);

  // True, with the file name (".lnk" included) of the first shortcut of DesktopFolder, in
  // listing order, whose target equals the given one; false with an empty name otherwise.
  bool FindDesktopLink(const std::string& target, std::string* linkName);

  // The name of the first entry, file or directory, that the listing gives for a pattern.
  std::string FirstMatchName(const std::string& pattern);

  // True when the first entry listed for ProgramsFolder\group\prefix*.lnk is a file.
  bool ProgramsLinkExists(const std::string& group, const std::string& prefix);

  // Moves the first desktop shortcut to the target to newName.lnk, or newName~2.lnk,
  // newName~3.lnk... when that is taken. False, with nothing moved, when no shortcut points
  // there, the new name is empty or would leave the folder, the shortcut bears that name
  // already or the move fails.
  bool RenameLinkOnDesktop(const std::string& target, const std::string& newName);

  // The same for the first shortcut listed for ProgramsFolder\group\prefix*.lnk; the other
  // matches are never looked at, so a first match already named newName.lnk stops it.
  bool RenameLinkInPrograms(const std::string& group, const std::string& prefix, const std::string& newName);

 private:
  // The folder fallback: a folder that names no existing directory becomes the all-users
  // one, which is not tested in turn. False when even that is empty: "\" + a name would
  // reach the root of the current drive, so nothing is done there.
  bool EnsureDesktopFolder();
  bool EnsureProgramsFolder();
  bool SaveLink(const std::string& target, const std::string& arguments, const std::string& linkPath);
  // Moves folder\found to newName.lnk or the first free newName~k.lnk in the same folder.
  bool MoveToFreeName(const std::string& folder, const std::string& found, const std::string& newName);

  Platform& platform_;
  std::string desktopFolder_;
  std::string programsFolder_;
};

}  // namespace varno
