#include "package/archive_layout.h"

#include <algorithm>
#include <cstring>

#include "base/ansi_text.h"
#include "base/windows_path.h"

namespace varno {
namespace {

std::string Hex(unsigned char byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {'0', 'x', kDigits[byte >> 4], kDigits[byte & 15]};
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) {
      out += "\\" + Hex(static_cast<unsigned char>(c));
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A component made of dots and blanks only: Windows reads "." and ".." as the current and
// parent directory, and drops trailing dots and blanks, so ". ." can become one of them.
bool IsDotsOnly(std::string_view component) {
  return component.find_first_not_of(". ") == std::string_view::npos;
}

// Reads exactly size bytes at the current position; false when the file ends before.
bool ReadExactly(InputFile& file, char* buffer, size_t size) {
  while (size > 0) {
    const size_t read = file.Read(buffer, size);
    if (read == 0) return false;
    buffer += read;
    size -= read;
  }
  return true;
}

uint32_t BigEndian32(const unsigned char* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

ArchiveCheck Refused(std::string problem) {
  ArchiveCheck check;
  check.problem = std::move(problem);
  return check;
}

}  // namespace

std::optional<std::string> CheckMemberName(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name.size() > archive::kMaxNameLength) return "is longer than 254 bytes";
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20) return "holds the control character " + Hex(byte);
    if (c == archive::kNameSeparator) return "holds \"#\", the name separator";
    if (c == ':') return "holds \":\": a drive or a stream would leave the target directory";
    if (std::strchr("<>\"|?*", c)) return std::string("holds \"") + c + "\", which Windows refuses in a file name";
  }
  if (IsPathSeparator(name.front())) return "starts with a separator: an absolute or network path would leave the target directory";
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsPathSeparator(name[end])) ++end;
    const std::string_view component = name.substr(start, end - start);
    if (component.empty()) return "has an empty path component";
    if (IsDotsOnly(component)) {
      return "has the component " + Quoted(component) + ", which would leave or name the target directory";
    }

    start = end + 1;
  }
  return std::nullopt;
}

std::optional<std::string> CheckWindowsName(std::string_view component) {
  if (component.empty()) return std::nullopt;
  if (component.back() == '.' || component.back() == ' ') return std::string("ends with a dot or a blank, which Windows drops");
  // A device whatever its extension, and with blanks before it ("NUL .txt" is NUL).
  std::string stem = AnsiUpperCase(component.substr(0, component.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == device) return std::string("is a device name on Windows");
  }
  if (stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' && stem[3] <= '9') {
    return std::string("is a device name on Windows");
  }
  return std::nullopt;
}

std::optional<std::string> CheckWindowsPath(std::string_view path) {
  for (size_t start = 0;;) {
    const size_t end = path.find_first_of("\\/", start);
    const std::string_view component = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (auto problem = CheckWindowsName(component)) return "has the component " + Quoted(component) + ", which " + *problem;
    if (end == std::string_view::npos) return std::nullopt;
    start = end + 1;
  }
}

std::optional<std::string> CheckArchiveLimits(size_t memberCount, uint64_t nameTableOffset) {
  if (memberCount > archive::kMaxMembers) {
    return "the member count is " + std::to_string(memberCount) + ", above the limit of " +
           std::to_string(archive::kMaxMembers);
  }
  if (nameTableOffset > archive::kMaxNameTableOffset) {
    return "the name table would start at offset " + std::to_string(nameTableOffset) +
           ", beyond the format's limit of " + std::to_string(archive::kMaxNameTableOffset);
  }
  return std::nullopt;
}

uint64_t ArchiveDataStart(size_t memberCount, bool compressed) {
  return archive::kHeaderSize +
         (compressed ? archive::kCompressedEntrySize : archive::kEntrySize) * uint64_t{memberCount};
}

ArchiveCheck ReadArchiveLayout(InputFile& archive) {
  const uint64_t fileSize = archive.Size();
  unsigned char header[archive::kHeaderSize];
  if (!archive.Seek(0) || !ReadExactly(archive, reinterpret_cast<char*>(header), sizeof(header))) {
    return Refused("the file holds " + std::to_string(fileSize) + " bytes, fewer than the 4 of the header");
  }
  const bool compressed = std::memcmp(header, archive::kCompressedSignature, 3) == 0;
  if (!compressed && std::memcmp(header, archive::kSignature, 3) != 0) {
    return Refused("the signature at offset 0 is " + Hex(header[0]) + " " + Hex(header[1]) + " " + Hex(header[2]) +
                   ", not \"SG1\" (0x53 0x47 0x31) or \"SG2\" (0x53 0x47 0x32)");
  }
  const size_t count = header[3];
  if (count > archive::kMaxMembers) {
    return Refused("the member count at offset 3 is " + std::to_string(count) + ", above the limit of " +
                   std::to_string(archive::kMaxMembers));
  }

  const uint64_t entrySize = compressed ? archive::kCompressedEntrySize : archive::kEntrySize;
  const uint64_t dataStart = ArchiveDataStart(count, compressed);
  std::vector<unsigned char> entries(static_cast<size_t>(entrySize * count));
  if (!ReadExactly(archive, reinterpret_cast<char*>(entries.data()), entries.size())) {
    return Refused("the " + std::to_string(count) + " member " + (compressed ? "entries" : "sizes") +
                   " at offsets 4 to " + std::to_string(dataStart - 1) + " run past the end of the file (" +
                   std::to_string(fileSize) + " bytes)");
  }
  ArchiveCheck check;
  ArchiveLayout& layout = check.layout;
  layout.compressed = compressed;
  uint64_t offset = dataStart;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = &entries[entrySize * i];
    const uint64_t entryOffset = archive::kHeaderSize + entrySize * i;
    ArchiveMember member;
    if (compressed) {
      member.method = entry[0];
      member.storedSize = BigEndian32(entry + 1);
      member.size = BigEndian32(entry + 5);
      if (member.method != archive::kStored && member.method != archive::kDeflate) {
        return Refused("member " + std::to_string(i + 1) + " has the method " + std::to_string(member.method) +
                       " at offset " + std::to_string(entryOffset) + ", neither 0 (stored) nor 1 (deflate)");
      }
      if (member.method == archive::kStored && member.storedSize != member.size) {
        return Refused("member " + std::to_string(i + 1) + " is stored (entry at offset " +
                       std::to_string(entryOffset) + ") with a stored size of " + std::to_string(member.storedSize) +
                       " bytes but a real size of " + std::to_string(member.size));
      }
    } else {
      member.size = BigEndian32(entry);
      member.storedSize = member.size;
    }
    member.offset = offset;
    offset += member.storedSize;
    if (offset > fileSize) {
      return Refused("member " + std::to_string(i + 1) + " (" + (compressed ? "stored size " : "size ") +
                     std::to_string(member.storedSize) + " at offset " +
                     std::to_string(entryOffset + (compressed ? 1 : 0)) + ") ends at offset " +
                     std::to_string(offset) + ", past the end of the file (" + std::to_string(fileSize) + " bytes)");
    }
    layout.members.push_back(std::move(member));
  }
  layout.nameTableOffset = offset;
  if (auto problem = CheckArchiveLimits(count, offset)) return Refused(*problem);
  if (count == 0) return check;

  // The lead byte, then at most N names of the longest length and their separators.
  const uint64_t wanted = 1 + count * (archive::kMaxNameLength + 1);
  std::string table(static_cast<size_t>(std::min(wanted, fileSize - offset)), '\0');
  if (!archive.Seek(offset) || !ReadExactly(archive, table.data(), table.size())) {
    return Refused("the name table at offset " + std::to_string(offset) + " cannot be read");
  }
  if (table.empty()) return Refused("the name table at offset " + std::to_string(offset) + " is missing");

  size_t position = 1;  // past the lead byte
  bool exhausted = table.size() == 1;
  for (size_t i = 0; i < count; ++i) {
    if (exhausted) {
      return Refused("the name table at offset " + std::to_string(offset) + " holds " + std::to_string(i) +
                     " names for " + std::to_string(count) + " members");
    }
    const size_t separator = table.find(archive::kNameSeparator, position);
    const size_t end = separator == std::string::npos ? table.size() : separator;
    std::string name = table.substr(position, end - position);
    // A table cut at the reading limit leaves at least 255 bytes for a name without its
    // separator, so such a name is refused as too long, as it would be whole.
    exhausted = separator == std::string::npos;
    if (auto problem = CheckMemberName(name)) {
      return Refused("name " + std::to_string(i + 1) + " at offset " + std::to_string(offset + position) + " " +
                     (name.empty() || name.size() > archive::kMaxNameLength ? "" : Quoted(name) + " ") + *problem);
    }
    layout.members[i].name = std::move(name);
    position = end + 1;
  }
  return check;
}

ArchiveCheck CheckArchiveFile(FileSystem& files, const std::string& path) {
  auto archive = files.OpenForReading(path);
  if (!archive) return Refused("the file cannot be opened");
  return ReadArchiveLayout(*archive);
}

}  // namespace varno
