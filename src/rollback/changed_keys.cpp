#include "rollback/changed_keys.h"

#include <algorithm>
#include <memory>

#include "base/ansi_text.h"

namespace varno {

void ChangedKeys::Add(RegKey root, const std::string& key) {
  const auto depth = key.empty() ? 0 : 1 + static_cast<size_t>(std::count(key.begin(), key.end(), '\\'));
  keys_.emplace(std::make_tuple(depth, root, AnsiUpperCase(key)), key);
}

std::vector<std::string> ChangedKeys::Flush(Registry& registry) const {
  std::vector<std::string> failures;
  for (const auto& [sorted, key] : keys_) {
    const RegKey root = std::get<1>(sorted);
    RegKey opened = root;
    if (!key.empty()) {
      const long status = registry.OpenKey(root, key, kKeyRead, false, &opened);
      if (status == kRegNotFound) continue;
      if (status != kRegSuccess) opened = 0;
    }
    // Closed however the flush ends.
    const auto close = [&registry, root](RegKey* open) {
      if (*open && *open != root) registry.CloseKey(*open);
    };
    const std::unique_ptr<RegKey, decltype(close)> closing(&opened, close);
    if (!opened || registry.FlushKey(opened) != kRegSuccess) {
      failures.push_back(std::string(root == kHkeyCurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE") +
                         (key.empty() ? "" : "\\" + key));
    }
  }
  return failures;
}

std::string ParentKeyOf(const std::string& key) {
  const size_t separator = key.find_last_of('\\');
  return separator == std::string::npos ? std::string() : key.substr(0, separator);
}

}  // namespace varno
