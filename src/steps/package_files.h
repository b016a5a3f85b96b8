// The files of a package directory an update reads, and the check that a signed package
// lists each of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/package_signature.h"

namespace varno {

// Every file of the package directory the run may read, as paths relative to it, given
// the description's lines: the description, the main archive, each archive an
// "[insubdir]" line names (as the step reads the line), the archives of deltas and of
// whole files, the control and the companion program. Present or not.
std::vector<std::string> PackageFileNames(const std::vector<std::string>& descriptionLines);

// The archives the description's "[insubdir]" lines name, as the step reads them.
std::vector<std::string> SubDirArchiveNames(const std::vector<std::string>& descriptionLines);

// The files of packageDir the run reads (PackageFileNames of its description), those
// present only; nothing when there is no description.
std::vector<std::string> PackageFilesTheRunReads(FileSystem& files, const std::string& packageDir);

// The whole check of a signed package before its run: the signature and every listed file
// (see VerifySignedPackage), then every file the run reads must be listed or absent. The
// description's lines are read from the held description, never again by its name. On
// success held keeps the package's files held until it is dropped; what the run reads of
// the package is then what held gives (HeldPackageFiles), a file absent here staying
// absent.
std::optional<PackageFault> VerifyPackageForRun(FileSystem& files, Crypto& crypto, std::string_view publicKeyPem,
                                                const std::string& packageDir, HeldPackage& held);

}  // namespace varno
