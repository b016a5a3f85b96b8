#include "package/package_header.h"

#include <vector>

#include "platform/message_boxes.h"
#include "base/integer_text.h"
#include "base/texts.h"

namespace varno {
namespace {

constexpr size_t kHeaderLines = 21;

// The first 21 lines as the header reader sees them; missing lines read empty.
std::vector<std::string> HeaderLines(std::string_view bytes) {
  std::vector<std::string> lines(1);
  for (const char c : bytes) {
    if (c == '\n') {
      if (lines.size() == kHeaderLines) break;
      lines.emplace_back();
    } else if (c != '\r') {
      lines.back() += c;
    }
  }
  lines.resize(kHeaderLines);
  return lines;
}

}  // namespace

PackageHeader ParsePackageHeader(std::string_view bytes) {
  const std::vector<std::string> lines = HeaderLines(bytes);
  PackageHeader header;
  header.newVersion = lines[1];
  // Only the low 8 bits of line 17 count; a 0 there (a non-integer included) means 28.
  header.minFileVersionNumber = static_cast<uint8_t>(static_cast<uint32_t>(StrToIntDef(lines[16], 0)) & 0xFF);
  if (header.minFileVersionNumber == 0) header.minFileVersionNumber = kDefaultMinFileVersionNumber;
  header.minInstalledVersion = StrToIntDef(lines[18], kDefaultMinInstalledVersion);
  header.versionLabel = lines[20];
  return header;
}

std::optional<PackageHeader> ReadPackageHeader(Platform& platform, const std::string& descriptionPath) {
  if (!platform.files.FileExists(descriptionPath)) {
    ShowPlainMessage(platform, text::kDescriptionNotFound);
    platform.window.RequestQuit();
    return std::nullopt;
  }
  // A read error is not reported: the values stay empty and the defaults apply.
  return ParsePackageHeader(platform.files.ReadWholeFile(descriptionPath).value_or(std::string()));
}

}  // namespace varno
