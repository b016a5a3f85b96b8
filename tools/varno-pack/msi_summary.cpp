#include "msi_summary.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace varno::pack {
namespace {

uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The file offsets of a compound file's stream, one per byte run of a (mini) sector.
struct StreamMap {
  std::vector<size_t> offsets;
  size_t unit = 0;
  size_t size = 0;
};

std::optional<StreamMap> FindStream(const std::string& file, std::u16string_view name) {
  if (file.size() < 512 || file.compare(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") != 0) return std::nullopt;
  const size_t sector = size_t{1} << (static_cast<unsigned char>(file[0x1E]) | (file[0x1F] << 8));
  const size_t mini = size_t{1} << static_cast<unsigned char>(file[0x20]);
  if (sector < 512 || sector > 4096) return std::nullopt;
  const auto at = [&](uint32_t s) { return (static_cast<size_t>(s) + 1) * sector; };
  // The allocation table, from the header's list of its sectors (enough for a small MSI).
  std::vector<uint32_t> fat;
  const uint32_t fatSectors = Le32(file, 0x2C);
  if (fatSectors > 109 || Le32(file, 0x48) != 0) return std::nullopt;
  for (uint32_t i = 0; i < fatSectors; ++i) {
    const size_t base = at(Le32(file, 0x4C + 4 * i));
    if (base + sector > file.size()) return std::nullopt;
    for (size_t j = 0; j < sector; j += 4) fat.push_back(Le32(file, base + j));
  }
  const auto chain = [&](uint32_t first) {
    std::vector<uint32_t> sectors;
    for (uint32_t s = first; s < fat.size() && sectors.size() <= fat.size(); s = fat[s]) sectors.push_back(s);
    return sectors;
  };
  std::vector<size_t> directory;
  for (uint32_t s : chain(Le32(file, 0x30))) {
    for (size_t j = 0; j < sector; j += 128) directory.push_back(at(s) + j);
  }
  if (directory.empty() || directory.back() + 128 > file.size()) return std::nullopt;
  for (const size_t entry : directory) {
    const size_t nameBytes = static_cast<unsigned char>(file[entry + 0x40]) | (file[entry + 0x41] << 8);
    if (nameBytes != (name.size() + 1) * 2 || file[entry + 0x42] != 2) continue;
    bool same = true;
    for (size_t i = 0; i < name.size(); ++i) {
      same = same && (static_cast<unsigned char>(file[entry + 2 * i]) | (file[entry + 2 * i + 1] << 8)) == name[i];
    }
    if (!same) continue;
    StreamMap map;
    map.size = Le32(file, entry + 0x78);
    const uint32_t start = Le32(file, entry + 0x74);
    if (map.size >= Le32(file, 0x38)) {
      map.unit = sector;
      for (uint32_t s : chain(start)) map.offsets.push_back(at(s));
    } else {
      // In the mini stream, whose sectors the root entry's chain holds.
      std::vector<size_t> container;
      for (uint32_t s : chain(Le32(file, directory[0] + 0x74))) container.push_back(at(s));
      std::vector<uint32_t> miniFat;
      for (uint32_t s : chain(Le32(file, 0x3C))) {
        for (size_t j = 0; j < sector; j += 4) miniFat.push_back(Le32(file, at(s) + j));
      }
      map.unit = mini;
      for (uint32_t m = start; m < miniFat.size() && map.offsets.size() <= miniFat.size(); m = miniFat[m]) {
        const size_t inside = m * mini;
        if (inside / sector >= container.size()) return std::nullopt;
        map.offsets.push_back(container[inside / sector] + inside % sector);
      }
    }
    if (map.offsets.size() * map.unit < map.size) return std::nullopt;
    return map;
  }
  return std::nullopt;
}

}  // namespace

bool FixSummaryInformation(std::string& msi, const std::string& packageCode, uint64_t fileTime) {
  const auto map = FindStream(msi, u"\x0005SummaryInformation");
  if (!map) return false;
  std::string stream;
  for (size_t i = 0; i < map->offsets.size() && stream.size() < map->size; ++i) {
    stream += msi.substr(map->offsets[i], std::min(map->unit, map->size - stream.size()));
  }
  if (stream.size() < 48) return false;
  const size_t section = Le32(stream, 44);
  if (section + 8 > stream.size()) return false;
  const uint32_t count = Le32(stream, section + 4);
  int fixed = 0;
  for (uint32_t i = 0; i < count && section + 16 + 8 * i <= stream.size(); ++i) {
    const uint32_t id = Le32(stream, section + 8 + 8 * i);
    const size_t at = section + Le32(stream, section + 12 + 8 * i);
    if (at + 4 > stream.size()) return false;
    const uint32_t type = Le32(stream, at);
    if (id == 9 && type == 30) {  // the revision number: the package code, same length
      if (at + 8 + packageCode.size() > stream.size() || Le32(stream, at + 4) != packageCode.size() + 1) return false;
      stream.replace(at + 8, packageCode.size(), packageCode);
      ++fixed;
    } else if ((id == 12 || id == 13) && type == 64 && at + 12 <= stream.size()) {  // created, last saved
      for (int b = 0; b < 8; ++b) stream[at + 4 + b] = static_cast<char>((fileTime >> (8 * b)) & 0xFF);
      ++fixed;
    }
  }
  if (fixed != 3) return false;
  for (size_t i = 0, done = 0; done < map->size; ++i, done += map->unit) {
    msi.replace(map->offsets[i], std::min(map->unit, map->size - done), stream.substr(done, map->unit));
  }
  return true;
}

}  // namespace varno::pack
