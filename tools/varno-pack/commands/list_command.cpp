#include "commands/list_command.h"
#include "host/package_directory.h"

#include <cstdio>

namespace varno::pack {
namespace {

// The share of the real size that storing compressed saves, to a whole percent.
std::string Percent(uint64_t real, uint64_t stored) {
  if (real == 0 || stored >= real) return "0%";
  return std::to_string((real - stored) * 100 / real) + "%";
}

std::string Saving(uint64_t real, uint64_t stored) {
  return " (" + Percent(real, stored) + " saved)";
}

}  // namespace

ArchiveListing ListArchive(FileSystem& files, const std::string& path, const std::string& shown, Report& report) {
  ArchiveListing listing;
  ClearSystemError();
  auto file = files.OpenForReading(path);
  if (!file) {
    report.Fail("archive-unreadable", shown, 0, "cannot be opened" + SystemReason());
    return listing;
  }
  listing.opened = true;
  listing.fileSize = file->Size();
  listing.check = ReadArchiveLayout(*file);
  if (!listing.check.Valid()) {
    report.Fail("archive-malformed", shown, 0,
                "the updater would not recognise this archive and unpack nothing: " + listing.check.problem);
    return listing;
  }
  char lead = 0;
  if (!listing.check.layout.members.empty() && file->Seek(listing.check.layout.nameTableOffset) &&
      file->Read(&lead, 1) == 1) {
    listing.leadByte = static_cast<unsigned char>(lead);
  }
  return listing;
}

Json ListJson(const std::string& shown, const ArchiveListing& listing, const Report& report) {
  Json document = ReportJson("list", report);
  document["archive"] = JsonText(shown);
  document["valid"] = listing.opened && listing.check.Valid();
  document["size"] = listing.fileSize;
  if (!listing.opened || !listing.check.Valid()) {
    document["nameTableOffset"] = nullptr;
    document["format"] = nullptr;
    document["leadByte"] = nullptr;
    document["members"] = Json::array();
    return document;
  }
  document["nameTableOffset"] = listing.check.layout.nameTableOffset;
  document["format"] = listing.check.layout.compressed ? "SG2" : "SG1";
  document["leadByte"] = listing.leadByte ? Json(*listing.leadByte) : Json(nullptr);
  Json members = Json::array();
  size_t index = 0;
  for (const ArchiveMember& member : listing.check.layout.members) {
    Json item;
    item["index"] = ++index;
    item["name"] = JsonText(member.name);
    item["size"] = member.size;
    item["storedSize"] = member.storedSize;
    item["method"] = member.method == archive::kDeflate ? "deflate" : "stored";
    item["offset"] = member.offset;
    members.push_back(std::move(item));
  }
  document["members"] = std::move(members);
  return document;
}

void PrintListing(const std::string& shown, const ArchiveListing& listing) {
  if (!listing.opened || !listing.check.Valid()) return;
  const ArchiveLayout& layout = listing.check.layout;
  std::string text = shown + ": " + std::to_string(layout.members.size()) + " member" +
                     (layout.members.size() == 1 ? "" : "s") + ", " + std::to_string(listing.fileSize) +
                     " bytes, name table at offset " + std::to_string(layout.nameTableOffset);
  if (listing.leadByte) {
    char hex[8];
    std::snprintf(hex, sizeof(hex), "0x%02X", *listing.leadByte);
    text += ", lead byte " + std::string(hex);
  }
  uint64_t real = 0;
  uint64_t stored = 0;
  for (const ArchiveMember& member : layout.members) {
    real += member.size;
    stored += member.storedSize;
  }
  text += layout.compressed ? ", compressed (SG2): " + std::to_string(real) + " bytes stored in " +
                                  std::to_string(stored) + Saving(real, stored)
                            : ", stored (SG1)";
  text += "\n";
  if (!layout.members.empty()) text += "    #        size      stored  saving      offset  name\n";
  size_t index = 0;
  for (const ArchiveMember& member : layout.members) {
    char row[96];
    // Offsets stay below 2^31 in a valid archive, so every number fits an unsigned long.
    std::snprintf(row, sizeof(row), "%5lu %11lu %11lu %6s %11lu  ", static_cast<unsigned long>(++index),
                  static_cast<unsigned long>(member.size), static_cast<unsigned long>(member.storedSize),
                  member.method == archive::kDeflate ? Percent(member.size, member.storedSize).c_str() : "-",
                  static_cast<unsigned long>(member.offset));
    text += row + member.name + "\n";
  }
  PrintText(stdout, text);
}

}  // namespace varno::pack
