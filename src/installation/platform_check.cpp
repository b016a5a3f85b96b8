#include "installation/platform_check.h"

#include "platform/message_boxes.h"
#include "base/texts.h"

namespace varno {
namespace {

constexpr uint32_t kPlatformWindows = 1;
constexpr uint32_t kPlatformNt = 2;

}  // namespace

unsigned ClassifyOsVersion(uint32_t platformId, uint32_t major, uint32_t minor) {
  if (platformId == kPlatformWindows) {
    // The 9x family is told apart by its minor version alone.
    switch (minor) {
      case 0: return 30;
      case 10: return 31;
      case 90: return 32;
      default: return 0;
    }
  }
  if (platformId != kPlatformNt) return 0;
  switch (major) {
    case 4: return 34;
    case 5: return minor == 0 ? 35 : minor == 1 ? 36 : 0;
    case 6: return minor <= 3 ? 40 + minor : 0;
    case 10: return minor <= 3 ? 44 + minor : 0;
    default: return 0;
  }
}

unsigned ProbeOsVersion(System& system) {
  const auto version = system.WindowsVersion();
  return version ? ClassifyOsVersion(version->platformId, version->major, version->minor) : 0;
}

std::optional<std::string> OsFamilyNameOf(unsigned code) {
  if (code == 30 || code == 31 || code == 32 || code == 35 || code == 36) return std::string("WINDOWS");
  // The accepted range ends at 46: NT 4 (34) and version 10.3 (47) are refused.
  if (code >= 40 && code <= 46) return std::string("WINDOWS NT");
  return std::nullopt;
}

std::optional<std::string> CheckPlatform(Dialogs& dialogs, System& system) {
  auto family = OsFamilyNameOf(ProbeOsVersion(system));
  if (!family) ShowPlainMessage(dialogs, system, text::kPlatformRefused);
  return family;
}

}  // namespace varno
