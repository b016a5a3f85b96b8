// The package archive format, checked whole. An archive is
//   "SG1", a count byte N, N big-endian 32-bit member sizes, the members' bytes back to
//   back, then the name table: one lead byte (never examined) and the N names, separated
//   by "#".
// An archive with at least one compressed member is
//   "SG2", a count byte N, N entries of 9 bytes (a method byte: 0 stored, 1 deflate as a
//   zlib stream with its Adler-32; the stored size and the real size, both big-endian
//   32-bit), the members' stored bytes back to back, then the same name table.
// A writer uses "SG2" only when a member is compressed, so every archive without one still
// reads with older updaters, and an older updater refuses a compressed archive whole (it
// checks for "SG1") instead of unpacking compressed bytes as they stand. A stored member of
// an SG2 archive has equal sizes; an unknown method refuses the archive. The layout check
// does not inflate: a compressed member whose bytes do not inflate to its real size is
// found while it is read (MemberStream).
// Whatever follows the N-th name is ignored. The reader and the writer use the same checks,
// so an archive the writer accepts is one the updater unpacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace varno {

namespace archive {
inline constexpr char kSignature[] = "SG1";
inline constexpr char kCompressedSignature[] = "SG2";
inline constexpr uint64_t kHeaderSize = 4;  // the signature and the count byte
inline constexpr uint64_t kEntrySize = 4;            // per member in SG1
inline constexpr uint64_t kCompressedEntrySize = 9;  // per member in SG2
enum Method : uint8_t { kStored = 0, kDeflate = 1 };
inline constexpr size_t kMaxMembers = 128;
inline constexpr size_t kMaxNameLength = 254;
inline constexpr char kNameSeparator = '#';
// Member offsets and the name table's offset are signed 32-bit values in the format.
inline constexpr uint64_t kMaxNameTableOffset = 0x7FFFFFFF;
}  // namespace archive

struct ArchiveMember {
  std::string name;         // as the archive gives it, relative to the target directory
  uint32_t size = 0;        // the real size: what is unpacked
  uint64_t offset = 0;      // of its first stored byte in the archive
  uint32_t storedSize = 0;  // what it takes in the archive (size when stored)
  uint8_t method = archive::kStored;
};

struct ArchiveLayout {
  std::vector<ArchiveMember> members;
  uint64_t nameTableOffset = 0;
  bool compressed = false;  // an SG2 archive
};

// Either a layout that can be unpacked as it stands, or what is wrong with the archive:
// the field and its offset, in words a package author can act on.
struct ArchiveCheck {
  ArchiveLayout layout;
  std::string problem;
  bool Valid() const { return problem.empty(); }
};

// Why a member name cannot be unpacked safely, or nothing when it can. A name must be 1 to
// 254 bytes, a relative Windows path that stays inside the target directory (no leading
// separator, no drive, no "." or ".." component), with no character Windows refuses in a
// file name and no control character (a line break would split the uninstall record's
// line), and without "#".
std::optional<std::string> CheckMemberName(std::string_view name);

// Why Windows would open another file than one component names, or nothing: a dot or a
// blank at its end (dropped), a device name whatever its extension (NUL, COM1, "NUL.txt").
// The archive reader takes such members, as it always did; the package tool refuses to make
// them, and the updater refuses such "[delete]" and "[delta]" paths.
std::optional<std::string> CheckWindowsName(std::string_view component);
// The same for each component of a relative path ("\" or "/" separated).
std::optional<std::string> CheckWindowsPath(std::string_view path);

// The member count and the name table's offset against the format's limits.
std::optional<std::string> CheckArchiveLimits(size_t memberCount, uint64_t nameTableOffset);

// Where the members' bytes start for an archive of that many members.
uint64_t ArchiveDataStart(size_t memberCount, bool compressed);

// Reads and checks the whole layout: header, sizes against the file's length, and every
// name. Reads at most one name table's worth of bytes (N names of 254 bytes and their
// separators), however long the file, so a damaged archive cannot make it hold much
// memory; a table longer than that can only hold more than N names, which are ignored.
ArchiveCheck ReadArchiveLayout(InputFile& archive);

// The same for a file; "cannot be opened" when it cannot.
ArchiveCheck CheckArchiveFile(FileSystem& files, const std::string& path);

}  // namespace varno
