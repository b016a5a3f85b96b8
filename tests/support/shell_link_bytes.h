// The bytes of a shell link (.lnk) file to a path on a local drive, laid out as the shell's
// link object writes them: the header, the item list (the computer, the drive, then one item
// per name of the path), the link information with the 8-bit path, then the strings. Item
// dates and the volume serial number are left zero; everything else is byte for byte what
// Wine writes (the golden files prove it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varno::fake {

// Wine gives each string a length that counts its terminating zero and writes the zero;
// the Windows shell does neither.
enum class LinkStrings { Wine, Windows };

struct LinkLayout {
  std::string target;  // a full path with its drive, "C:\App\run.exe"
  std::string arguments;
  std::string workingDirectory;
  // Only Windows writes the path relative to the link's folder ("..\..\..\App\run.exe").
  std::string relativePath;
  bool linkInformation = true;
  LinkStrings strings = LinkStrings::Wine;
};

std::string ShellLinkBytes(const LinkLayout& layout);

// Offsets the readers of a link rely on.
inline constexpr size_t kLinkFlagsOffset = 20;
inline constexpr size_t kLinkItemListOffset = 76;
inline constexpr size_t kLinkDriveLetterOffset = 101;

// The parts of a file in this layout that a test compares: the offset of the link
// information, of its 8-bit path, and of the first string after it. Nothing when the bytes
// are too short for what their sizes claim.
struct LinkParts {
  size_t linkInformation = 0;
  size_t localPath = 0;
  size_t strings = 0;
};
bool FindLinkParts(std::string_view bytes, LinkParts* parts);

// The bytes with what depends on the machine and the moment zeroed: the dates of the path's
// items and the volume serial number.
std::string WithoutVolatileFields(std::string bytes);

// Windows-1252 to UTF-16, as the system code page of the tests converts.
std::u16string WideFromAnsi(std::string_view text);

}  // namespace varno::fake
