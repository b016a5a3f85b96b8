#include "steps/package_files.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "package/section_lookup.h"
#include "steps/file_steps.h"

namespace varno {
namespace {

constexpr char kControlFileName[] = "Varxxlith.ocx";

}  // namespace

std::vector<std::string> PackageFilesTheRunReads(FileSystem& files, const std::string& packageDir) {
  std::vector<std::string> names;
  const auto addIfPresent = [&](const std::string& name) {
    if (files.FileExists(JoinPath(packageDir, name))) names.push_back(name);
  };
  addIfPresent(text::kDescriptionFileName);
  addIfPresent(text::kMainArchiveFileName);
  if (const auto lines = LoadPackageDescription(files, JoinPath(packageDir, text::kDescriptionFileName))) {
    if (const auto archives = SubDirArchives(*lines)) {
      for (const SubDirArchive& entry : *archives) addIfPresent(entry.archiveName);
    }
  }
  addIfPresent(kControlFileName);
  addIfPresent(text::kActionProgram);
  return names;
}

std::optional<PackageFault> VerifyPackageForRun(FileSystem& files, Crypto& crypto, std::string_view publicKeyPem,
                                                const std::string& packageDir, HeldPackage& held) {
  if (auto fault = VerifySignedPackage(files, crypto, publicKeyPem, packageDir, held)) return fault;
  // The description must be among the held files before its lines say what else is read.
  if (!held.Lists(text::kDescriptionFileName)) {
    held = HeldPackage();
    return PackageFault{PackageFaultKind::kFileNotListed, text::kDescriptionFileName};
  }
  for (const std::string& name : PackageFilesTheRunReads(files, packageDir)) {
    if (!held.Lists(name)) {
      held = HeldPackage();
      return PackageFault{PackageFaultKind::kFileNotListed, name};
    }
  }
  return std::nullopt;
}

}  // namespace varno
