#include "package/package_signature.h"

#include <cstdint>
#include <utility>

#include "base/ansi_text.h"
#include "package/package_manifest.h"

namespace varno {

// One held file, and where its own position stands (unknown at first).
struct HeldFile {
  std::unique_ptr<InputFile> file;
  uint64_t position = UINT64_MAX;
};

namespace {

// A reader seeks only when another reader of the held file moved it, so that the file's
// own buffering serves a reader that reads on.
class HeldFileReader : public InputFile {
 public:
  explicit HeldFileReader(std::shared_ptr<HeldFile> held) : held_(std::move(held)) {}
  size_t Read(char* buffer, size_t size) override {
    if (held_->position != position_) {
      held_->position = UINT64_MAX;
      if (!held_->file->Seek(position_)) return 0;
      held_->position = position_;
    }
    const size_t read = held_->file->Read(buffer, size);
    position_ += read;
    held_->position = position_;
    return read;
  }
  bool Seek(uint64_t position) override {
    position_ = position;
    return true;
  }
  uint64_t Size() override { return held_->file->Size(); }

 private:
  std::shared_ptr<HeldFile> held_;
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
    candidate.held_.emplace(AnsiUpperCase(entry.name), std::make_shared<HeldFile>(HeldFile{std::move(file)}));
  }
  held = std::move(candidate);
  return std::nullopt;
}

}  // namespace varno
