// The files of a package directory an update reads, and the check that a signed package
// lists each of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/package_signature.h"

namespace varno {

// The files of packageDir the run reads, as paths relative to it, those present only: the
// description, the main archive, each archive an "[insubdir]" line names (as the step
// reads the line), the control and the companion program.
std::vector<std::string> PackageFilesTheRunReads(FileSystem& files, const std::string& packageDir);

// The whole check of a signed package before its run: the signature and every listed file
// (see VerifySignedPackage), then every file the run reads must be listed. The
// description's "[insubdir]" lines are read only once the description was found intact
// and is held. On success held keeps the package's files held until it is dropped.
std::optional<PackageFault> VerifyPackageForRun(FileSystem& files, Crypto& crypto, std::string_view publicKeyPem,
                                                const std::string& packageDir, HeldPackage& held);

}  // namespace varno
