// The summary information of an MSI as wixl leaves it, made reproducible: wixl draws the
// package code at random and takes the creation and last-saved times from the clock.
#pragma once

#include <cstdint>
#include <string>

namespace varno::pack {

// Overwrites, in the compound file's "\005SummaryInformation" stream, the revision number
// (the package code, of the same length as wixl's) and the creation and last-saved times
// (a FILETIME), in place wherever the stream's sectors lie. False, the file unchanged or
// partly changed, when the stream or one of the three properties is not found as a compound
// file and a property set hold them.
bool FixSummaryInformation(std::string& msi, const std::string& packageCode, uint64_t fileTime);

}  // namespace varno::pack
