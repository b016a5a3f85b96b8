#include "steps/package_files.h"

#include "base/ansi_text.h"
#include "base/text_lines.h"
#include "base/texts.h"
#include "package/section_lookup.h"
#include "steps/file_steps.h"

namespace varno {
namespace {

constexpr char kControlFileName[] = "Varxxlith.ocx";

std::optional<std::string> ReadWhole(InputFile& file) {
  std::string bytes;
  char chunk[65536];
  while (const size_t read = file.Read(chunk, sizeof(chunk))) bytes.append(chunk, read);
  if (bytes.size() != file.Size()) return std::nullopt;
  return bytes;
}

}  // namespace

std::vector<std::string> SubDirArchiveNames(const std::vector<std::string>& descriptionLines) {
  std::vector<std::string> names;
  if (const auto archives = SubDirArchives(descriptionLines)) {
    for (const SubDirArchive& entry : *archives) names.push_back(entry.archiveName);
  }
  return names;
}

std::vector<std::string> PackageFileNames(const std::vector<std::string>& descriptionLines) {
  std::vector<std::string> names{text::kDescriptionFileName, text::kMainArchiveFileName};
  for (std::string& archive : SubDirArchiveNames(descriptionLines)) names.push_back(std::move(archive));
  names.push_back(text::kDeltaArchiveFileName);
  names.push_back(text::kFullFilesArchiveFileName);
  names.push_back(kControlFileName);
  names.push_back(text::kActionProgram);
  return names;
}

std::vector<std::string> PackageFilesTheRunReads(FileSystem& files, const std::string& packageDir) {
  const auto lines = LoadPackageDescription(files, JoinPath(packageDir, text::kDescriptionFileName));
  if (!lines) return {};
  std::vector<std::string> names;
  for (std::string& name : PackageFileNames(*lines)) {
    if (files.FileExists(JoinPath(packageDir, name))) names.push_back(std::move(name));
  }
  return names;
}

std::optional<PackageFault> VerifyPackageForRun(FileSystem& files, Crypto& crypto, std::string_view publicKeyPem,
                                                const std::string& packageDir, HeldPackage& held) {
  if (auto fault = VerifySignedPackage(files, crypto, publicKeyPem, packageDir, held)) return fault;
  // The description must be among the held files before its lines say what else is read.
  const auto description = held.Open(text::kDescriptionFileName);
  const auto bytes = description ? ReadWhole(*description) : std::nullopt;
  if (!bytes) {
    held = HeldPackage();
    return PackageFault{description ? PackageFaultKind::kFileUnreadable : PackageFaultKind::kFileNotListed,
                        text::kDescriptionFileName};
  }
  // A file present but not listed would be read unchecked; an absent one stays absent for
  // the run, whatever appears at its name later.
  for (const std::string& name : PackageFileNames(SplitTextLines(*bytes))) {
    if (!held.Lists(name) && files.FileExists(JoinPath(packageDir, name))) {
      held = HeldPackage();
      return PackageFault{PackageFaultKind::kFileNotListed, name};
    }
  }
  return std::nullopt;
}

}  // namespace varno
