#include "components/signed_code.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "base/windows_path.h"
#include "platform/portable_sha256.h"

namespace varno {

// A replacement whose bytes are digested as they are written; the digest counts for the
// path only once the replacement is committed.
class WrittenCodeOutput : public OutputFile {
 public:
  WrittenCodeOutput(std::unique_ptr<OutputFile> inner, SignedCodeWatch& watch, std::string key)
      : inner_(std::move(inner)), watch_(watch), key_(std::move(key)), digest_(StartPortableSha256()) {}

  bool Write(const char* data, size_t size) override {
    return inner_->Write(data, size) && digest_->Add(data, size);
  }
  bool Finish() override { return inner_->Finish(); }
  bool Commit() override {
    if (!inner_->Commit()) return false;
    const auto digest = digest_->Finish();
    watch_.digests_[key_] = digest ? std::optional(HexDigest(*digest)) : std::nullopt;
    return true;
  }

 private:
  std::unique_ptr<OutputFile> inner_;
  SignedCodeWatch& watch_;
  std::string key_;
  std::unique_ptr<Sha256> digest_;
};

SignedCodeWatch::SignedCodeWatch(FileSystem& inner, const std::vector<std::string>& codePaths)
    : ForwardingFiles(inner) {
  for (const std::string& path : codePaths) digests_[AnsiUpperCase(FullPath(path, ""))] = std::nullopt;
}

std::optional<std::string> SignedCodeWatch::KeyOf(const std::string& path) const {
  const std::string key = AnsiUpperCase(FullPath(path, ""));
  if (!digests_.contains(key)) return std::nullopt;
  return key;
}

void SignedCodeWatch::Forget(const std::string& path) {
  if (const auto key = KeyOf(path)) digests_[*key] = std::nullopt;
}

std::unique_ptr<OutputFile> SignedCodeWatch::CreateReplacement(const std::string& path) {
  auto output = inner_.CreateReplacement(path);
  const auto key = KeyOf(path);
  if (!output || !key) return output;
  return std::make_unique<WrittenCodeOutput>(std::move(output), *this, *key);
}

bool SignedCodeWatch::MoveFileTo(const std::string& from, const std::string& to) {
  Forget(from);
  Forget(to);
  return inner_.MoveFileTo(from, to);
}

bool SignedCodeWatch::MoveFileReplacing(const std::string& from, const std::string& to) {
  Forget(from);
  Forget(to);
  return inner_.MoveFileReplacing(from, to);
}

bool SignedCodeWatch::CopyFileTo(const std::string& from, const std::string& to) {
  Forget(to);
  return inner_.CopyFileTo(from, to);
}

bool SignedCodeWatch::RemoveFile(const std::string& path) {
  Forget(path);
  return inner_.RemoveFile(path);
}

std::optional<std::string> SignedCodeWatch::WrittenDigest(const std::string& path) const {
  const auto key = KeyOf(path);
  return key ? digests_.at(*key) : std::nullopt;
}

std::optional<HeldCode> SignedCodeWatch::HoldToRun(const std::string& path) {
  if (!FileExists(path)) return std::nullopt;
  HeldForRunning held = OpenHeldForRunning(path);
  const auto written = WrittenDigest(path);
  if (written) {
    // The bytes the run wrote from the signed package, whoever could write the file since:
    // checked on the handle that is then read or loaded from.
    // A second name is harmless here: the handle refuses writers through every name.
    const auto found = held.file && held.trust != FileTrust::Linked ? InputSha256Hex(*held.file) : std::nullopt;
    if (found != written || !held.file->Seek(0)) {
      throw UpdateError(FormatText(text::kCodeChangedSinceWritten, {path}));
    }
  } else if (held.trust != FileTrust::Trusted) {
    const char* reason = held.trust == FileTrust::Linked         ? text::kUntrustedLinked
                         : held.trust == FileTrust::ExtraName    ? text::kUntrustedExtraName
                         : held.trust == FileTrust::ForeignOwner ? text::kUntrustedOwner
                         : held.trust == FileTrust::Missing      ? text::kCodeNotHeld
                                                                 : text::kUntrustedWritable;
    throw UpdateError(FormatText(text::kCodeNotSigned, {path, reason}));
  }
  return HeldCode{path, std::move(held.file)};
}

}  // namespace varno
