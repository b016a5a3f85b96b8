// Whether the account may write the machine-wide registry: a key is created, a value
// written, read back and deleted, and the key deleted again, in HKEY_LOCAL_MACHINE and
// then in HKEY_CURRENT_USER, each operation under the narrowest access mask it needs.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace varno {

// The score of the test: one bit (or two) per check, appended in order; 4095 (twelve 1
// bits) when every check passed.
uint32_t RightsScore(Registry& registry, const std::string& osFamilyName);

bool HasInstallRights(Registry& registry, const std::string& osFamilyName);

}  // namespace varno
