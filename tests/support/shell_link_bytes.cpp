#include "support/shell_link_bytes.h"

#include <cstdint>
#include <vector>

#include "base/ansi_text.h"

namespace varno::fake {
namespace {

constexpr uint32_t kHasItemList = 0x01;
constexpr uint32_t kHasLinkInformation = 0x02;
constexpr uint32_t kHasRelativePath = 0x08;
constexpr uint32_t kHasWorkingDirectory = 0x10;
constexpr uint32_t kHasArguments = 0x20;
constexpr uint32_t kIsUnicode = 0x80;

constexpr unsigned char kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr unsigned char kMyComputerClsid[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                                0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
constexpr unsigned char kItemFolder = 0x31;
constexpr unsigned char kItemFile = 0x32;
constexpr unsigned char kItemDrive = 0x23;
// Both Wine's link information and its item names follow this layout; sizes in bytes.
constexpr size_t kItemHeader = 14;      // size, type, pad, file size, date, time, attributes
constexpr size_t kWideBlockHeader = 20;  // size, pad, creation and access dates, pad
constexpr size_t kLinkInformationHeader = 0x1C;
constexpr size_t kVolumeIdSize = 0x11;

void Put16(std::string& out, size_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, size_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, (value >> 16) & 0xFFFF);
}

void PutBytes(std::string& out, const unsigned char (&bytes)[16]) {
  out.append(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

size_t Get16(std::string_view bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

size_t Get32(std::string_view bytes, size_t at) { return Get16(bytes, at) | Get16(bytes, at + 2) << 16; }

// One name of the path: the 8-bit name, then a block holding the same name in UTF-16, whose
// offset closes the item.
std::string PathItem(std::string_view name, bool folder) {
  const std::u16string wide = WideFromAnsi(name);
  const size_t names = name.size() + 1 + ((name.size() + 1) & 1);
  const size_t wideBlock = kWideBlockHeader + 2 * (wide.size() + 1) + 2;
  std::string item;
  Put16(item, kItemHeader + names + wideBlock);
  item += static_cast<char>(folder ? kItemFolder : kItemFile);
  item += '\0';
  Put32(item, 0);  // file size
  Put32(item, 0);  // date and time
  Put16(item, folder ? 0x10 : 0);
  item += name;
  item.append(names - name.size(), '\0');
  Put16(item, wideBlock);
  item.append(kWideBlockHeader - 2, '\0');
  for (char16_t unit : wide) Put16(item, unit);
  Put16(item, 0);
  Put16(item, kItemHeader + names);
  return item;
}

std::string ItemList(const std::string& target) {
  std::string items;
  Put16(items, 20);
  items += '\x1F';
  items += '\0';
  PutBytes(items, kMyComputerClsid);

  // The drive item always names the drive in capitals, whatever the path says.
  Put16(items, 25);
  items += static_cast<char>(kItemDrive);
  std::string drive = std::string(1, AsciiUpper(target.empty() ? 'C' : target[0])) + ":\\";
  drive.resize(22, '\0');
  items += drive;

  // The names of the path after its drive root; a trailing "\" adds no item. Every name but
  // the last is a folder.
  std::vector<std::string> names;
  std::string name;
  for (size_t i = 3; i <= target.size(); ++i) {
    if (i == target.size() || target[i] == '\\') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name += target[i];
    }
  }
  for (size_t i = 0; i < names.size(); ++i) items += PathItem(names[i], i + 1 < names.size());
  Put16(items, 0);
  return items;
}

std::string LinkInformation(const std::string& path) {
  const size_t localPath = kLinkInformationHeader + kVolumeIdSize;
  const size_t suffix = localPath + path.size() + 1;
  std::string info;
  Put32(info, suffix + 1);
  Put32(info, kLinkInformationHeader);
  Put32(info, 1);  // a volume and a local path
  Put32(info, kLinkInformationHeader);
  Put32(info, localPath);
  Put32(info, 0);  // no network location
  Put32(info, suffix);
  Put32(info, kVolumeIdSize);
  Put32(info, 3);  // a fixed drive
  Put32(info, 0);  // the serial number
  Put32(info, 0x10);
  info += '\0';  // no volume label
  info += path;
  info += '\0';
  info += '\0';  // an empty path suffix
  return info;
}

void PutString(std::string& out, const std::string& text, LinkStrings strings) {
  const std::u16string wide = WideFromAnsi(text);
  Put16(out, wide.size() + (strings == LinkStrings::Wine ? 1 : 0));
  for (char16_t unit : wide) Put16(out, unit);
  if (strings == LinkStrings::Wine) Put16(out, 0);
}

}  // namespace

std::u16string WideFromAnsi(std::string_view text) {
  // 0x80 to 0x9F are the only bytes of Windows-1252 that differ from Latin-1; its five
  // unassigned ones convert to the control characters of the same value.
  static const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::u16string wide;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    wide += byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : static_cast<char16_t>(byte);
  }
  return wide;
}

std::string ShellLinkBytes(const LinkLayout& layout) {
  uint32_t flags = kHasItemList | kIsUnicode;
  if (layout.linkInformation) flags |= kHasLinkInformation;
  if (!layout.relativePath.empty()) flags |= kHasRelativePath;
  if (!layout.workingDirectory.empty()) flags |= kHasWorkingDirectory;
  if (!layout.arguments.empty()) flags |= kHasArguments;

  std::string bytes;
  Put32(bytes, 0x4C);
  PutBytes(bytes, kShellLinkClsid);
  Put32(bytes, flags);
  bytes.append(36, '\0');  // attributes, three times, size, icon index: none recorded
  Put32(bytes, 1);         // shown normally
  bytes.append(12, '\0');  // no hot key, reserved

  const std::string items = ItemList(layout.target);
  Put16(bytes, items.size());
  bytes += items;
  if (layout.linkInformation) bytes += LinkInformation(layout.target);
  if (!layout.relativePath.empty()) PutString(bytes, layout.relativePath, layout.strings);
  if (!layout.workingDirectory.empty()) PutString(bytes, layout.workingDirectory, layout.strings);
  if (!layout.arguments.empty()) PutString(bytes, layout.arguments, layout.strings);
  Put32(bytes, 0);  // no extra data
  return bytes;
}

bool FindLinkParts(std::string_view bytes, LinkParts* parts) {
  if (bytes.size() < kLinkItemListOffset + 2) return false;
  const size_t info = kLinkItemListOffset + 2 + Get16(bytes, kLinkItemListOffset);
  if (info + kLinkInformationHeader > bytes.size()) return false;
  parts->linkInformation = info;
  parts->localPath = info + Get32(bytes, info + 16);
  parts->strings = info + Get32(bytes, info);
  return parts->localPath < bytes.size() && parts->strings <= bytes.size();
}

std::string WithoutVolatileFields(std::string bytes) {
  if (bytes.size() < kLinkItemListOffset + 2) return bytes;
  const size_t end = kLinkItemListOffset + 2 + Get16(bytes, kLinkItemListOffset);
  for (size_t item = kLinkItemListOffset + 2; item + 2 <= end && item + 2 <= bytes.size();) {
    const size_t size = Get16(bytes, item);
    if (size == 0 || item + size > bytes.size()) break;
    const unsigned char type = static_cast<unsigned char>(bytes[item + 2]);
    if ((type == kItemFolder || type == kItemFile) && size >= kItemHeader + 2) {
      bytes.replace(item + 8, 4, 4, '\0');  // date and time written
      const size_t wide = item + Get16(bytes, item + size - 2);
      if (wide + kWideBlockHeader <= item + size) bytes.replace(wide + 8, 8, 8, '\0');  // created, accessed
    }
    item += size;
  }
  LinkParts parts;
  if (FindLinkParts(bytes, &parts)) {
    const size_t volume = parts.linkInformation + Get32(bytes, parts.linkInformation + 12);
    if (volume + 12 <= bytes.size()) bytes.replace(volume + 8, 4, 4, '\0');
  }
  return bytes;
}

}  // namespace varno::fake
