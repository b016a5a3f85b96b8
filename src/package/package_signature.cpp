#include "package/package_signature.h"

#include <utility>

#include "base/ansi_text.h"
#include "package/package_manifest.h"

namespace varno {

namespace {

// Every reader seeks before it reads, so readers of one held file never move each other.
class HeldFileReader : public InputFile {
 public:
  explicit HeldFileReader(std::shared_ptr<InputFile> file) : file_(std::move(file)) {}
  size_t Read(char* buffer, size_t size) override {
    if (!file_->Seek(position_)) return 0;
    const size_t read = file_->Read(buffer, size);
    position_ += read;
    return read;
  }
  bool Seek(uint64_t position) override {
    position_ = position;
    return true;
  }
  uint64_t Size() override { return file_->Size(); }

 private:
  std::shared_ptr<InputFile> file_;
  uint64_t position_ = 0;
};

}  // namespace

bool HeldPackage::Lists(std::string_view name) const { return held_.contains(AnsiUpperCase(name)); }

std::unique_ptr<InputFile> HeldPackage::Open(std::string_view name) const {
  const auto found = held_.find(AnsiUpperCase(name));
  if (found == held_.end()) return nullptr;
  return std::make_unique<HeldFileReader>(found->second);
}

std::optional<std::string> DigestFile(InputFile& file, Crypto& crypto) {
  auto digest = crypto.StartSha256();
  if (!digest || !file.Seek(0)) return std::nullopt;
  char chunk[65536];
  uint64_t total = 0;
  while (const size_t read = file.Read(chunk, sizeof(chunk))) {
    if (!digest->Add(chunk, read)) return std::nullopt;
    total += read;
  }
  if (total != file.Size()) return std::nullopt;
  return digest->Finish();
}

std::optional<PackageFault> VerifySignedPackage(FileSystem& files, Crypto& crypto, std::string_view publicKeyPem,
                                                const std::string& packageDir, HeldPackage& held) {
  held = HeldPackage();
  const std::string signaturePath = JoinPath(packageDir, kSignatureFileName);
  if (!files.FileExists(signaturePath)) return PackageFault{PackageFaultKind::kSignatureMissing, kSignatureFileName};
  const auto bytes = files.ReadWholeFile(signaturePath);
  const auto signatureFile = bytes ? ParseSignatureFile(*bytes) : std::nullopt;
  if (!signatureFile) return PackageFault{PackageFaultKind::kSignatureMalformed, kSignatureFileName};
  if (!crypto.VerifySignature(publicKeyPem, signatureFile->signedPart, signatureFile->signature)) {
    return PackageFault{PackageFaultKind::kSignatureInvalid, kSignatureFileName};
  }

  HeldPackage candidate;
  for (const ManifestEntry& entry : signatureFile->files) {
    auto file = files.OpenHeldAgainstWriters(JoinPath(packageDir, entry.name));
    if (!file) return PackageFault{PackageFaultKind::kFileMissing, entry.name};
    if (file->Size() != entry.size) return PackageFault{PackageFaultKind::kFileSizeDiffers, entry.name};
    const auto digest = DigestFile(*file, crypto);
    if (!digest) return PackageFault{PackageFaultKind::kFileUnreadable, entry.name};
    if (*digest != entry.sha256) return PackageFault{PackageFaultKind::kFileContentDiffers, entry.name};
    candidate.held_.emplace(AnsiUpperCase(entry.name), std::move(file));
  }
  held = std::move(candidate);
  return std::nullopt;
}

}  // namespace varno
