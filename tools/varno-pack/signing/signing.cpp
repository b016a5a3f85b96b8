#include "signing/signing.h"
#include "host/package_directory.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/ansi_text.h"
#include "base/rsa_public_key.h"
#include "base/texts.h"
#include "package/package_manifest.h"
#include "package/section_lookup.h"
#include "signing/signing_backend.h"
#include "steps/package_files.h"

namespace varno::pack {
namespace {

constexpr int kKeyBits = 3072;
// The updater's build refuses a smaller key: a package signed with it could never be applied.
constexpr size_t kMinimumKeyBits = kMinimumRsaKeyBits;

std::optional<std::string> ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

// The new key's passphrase: nothing for an unencrypted key, or false with the reason.
bool NewPassphrase(const NewKeyPassphrase& source, const std::string& keyFile, std::optional<std::string>& passphrase,
                   Report& report) {
  if (!source.environmentVariable.empty()) {
    const auto value = backend::EnvironmentUtf8(source.environmentVariable);
    if (!value || value->empty()) {
      report.Fail("key-passphrase-missing", keyFile, 0,
                  "--passphrase-env: the variable " + source.environmentVariable + (value ? " is empty" : " is not set") +
                      "; nothing was made");
      return false;
    }
    passphrase = value;
    return true;
  }
  if (!source.ask) return true;
  if (!backend::TerminalAvailable()) {
    report.Fail("key-passphrase-missing", keyFile, 0,
                "there is no terminal to ask the passphrase on; give --passphrase-env VAR; nothing was made");
    return false;
  }
  const auto answer = backend::AskPassphrase("Passphrase for " + keyFile + ": ", true);
  if (!answer || answer->empty()) {
    report.Fail("key-passphrase-missing", keyFile, 0,
                !answer ? "the two passphrases differ (or none was read); nothing was made"
                        : "an empty passphrase protects nothing; nothing was made");
    return false;
  }
  passphrase = answer;
  return true;
}

// False, with the reason in report, for a key of fewer bits than kMinimumKeyBits.
bool KeyLargeEnough(size_t bits, const std::string& keyFile, Report& report) {
  if (bits >= kMinimumKeyBits) return true;
  report.Fail("key-too-small", keyFile, 0,
              "is an RSA key of " + std::to_string(bits) + " bits; at least " + std::to_string(kMinimumKeyBits) +
                  " are required (keygen makes " + std::to_string(kKeyBits) + ")");
  return false;
}

struct FaultWords {
  const char* code;
  const char* message;
};

FaultWords Words(PackageFaultKind kind) {
  switch (kind) {
    case PackageFaultKind::kSignatureMissing: return {"signature-missing", "no MjaIni.sig: the package is refused"};
    case PackageFaultKind::kSignatureMalformed: return {"signature-malformed", "MjaIni.sig is not a signature file"};
    case PackageFaultKind::kSignatureInvalid:
      return {"signature-invalid", "the signature is not this key's, or the list it signs was changed"};
    case PackageFaultKind::kFileMissing: return {"file-missing", "listed, but missing or cannot be opened"};
    case PackageFaultKind::kFileSizeDiffers: return {"file-size-differs", "its size is not the signed one"};
    case PackageFaultKind::kFileContentDiffers: return {"file-content-differs", "its bytes are not the signed ones"};
    case PackageFaultKind::kFileUnreadable: return {"file-unreadable", "could not be read to its end"};
    case PackageFaultKind::kFileNotListed: return {"file-not-listed", "the updater reads it, but it is not signed"};
  }
  return {"signature-invalid", "refused"};
}

}  // namespace

std::string PublicKeyFileOf(const std::string& privateKeyFile) {
  const std::string stem = privateKeyFile.ends_with(".pem") ? privateKeyFile.substr(0, privateKeyFile.size() - 4)
                                                             : privateKeyFile;
  return stem + ".pub.pem";
}

bool GenerateKeyPair(const std::string& privateKeyFile, Report& report, const NewKeyPassphrase& passphraseSource) {
  const std::string publicKeyFile = PublicKeyFileOf(privateKeyFile);
  for (const std::string& path : {privateKeyFile, publicKeyFile}) {
    if (backend::PathExists(path)) {
      report.Fail("key-exists", path, 0, "exists already; a key is never replaced");
      return false;
    }
  }
  std::optional<std::string> passphrase;
  if (!NewPassphrase(passphraseSource, privateKeyFile, passphrase, report)) return false;
  if (!backend::MakeParentDirectories(privateKeyFile)) {
    report.Fail("write-failed", privateKeyFile, 0, "its directory cannot be made: " + backend::LastErrorText());
    return false;
  }
  const auto key = backend::MakeRsaKey(kKeyBits);
  if (!key) {
    report.Fail("key-generation-failed", privateKeyFile, 0, "the system could not make an RSA key");
    return false;
  }
  const auto cipher = backend::ToolKeyCipher();
  const std::optional<std::string> privatePem =
      passphrase ? EncryptedPrivateKeyPem(*key, *passphrase, *cipher) : PrivateKeyPem(*key);
  if (!privatePem) {
    report.Fail("key-generation-failed", privateKeyFile, 0, "the system could not encrypt the key");
    return false;
  }
  if (!backend::WriteNewFile(privateKeyFile, *privatePem, true)) {
    report.Fail("write-failed", privateKeyFile, 0, "cannot be created: " + backend::LastErrorText());
    return false;
  }
  if (!backend::WriteNewFile(publicKeyFile, PublicKeyPem(*key), false)) {
    const std::string reason = backend::LastErrorText();
    backend::RemoveFile(privateKeyFile);  // half a pair is of no use
    report.Fail("write-failed", publicKeyFile, 0, "cannot be created: " + reason);
    return false;
  }
  return true;
}

std::optional<SigningKey> LoadSigningKey(const std::string& keyFile, const std::string& passphraseEnv,
                                         Report& report) {
  const auto text = ReadHostFile(keyFile);
  if (!text) {
    report.Fail("key-unreadable", keyFile, 0, "cannot be read: " + backend::LastErrorText());
    return std::nullopt;
  }
  std::optional<std::string> passphrase;
  if (!passphraseEnv.empty()) {
    passphrase = backend::EnvironmentUtf8(passphraseEnv);
    if (!passphrase) {
      report.Fail("key-unreadable", keyFile, 0, "--passphrase-env: the variable " + passphraseEnv + " is not set");
      return std::nullopt;
    }
  } else if (IsEncryptedPrivateKeyPem(*text)) {
    if (!backend::TerminalAvailable()) {
      report.Fail("key-unreadable", keyFile, 0,
                  "is protected by a passphrase and there is no terminal to ask it on: give --passphrase-env VAR, "
                  "the environment variable that holds it");
      return std::nullopt;
    }
    passphrase = backend::AskPassphrase("Passphrase of " + keyFile + ": ", false);
    if (!passphrase) {
      report.Fail("key-unreadable", keyFile, 0, "no passphrase was read");
      return std::nullopt;
    }
  }
  const auto cipher = backend::ToolKeyCipher();
  KeyFileError error = KeyFileError::kNone;
  auto key = ParseRsaPrivateKeyPem(*text, passphrase ? &*passphrase : nullptr, cipher.get(), error);
  if (!key) {
    const char* reason = "is not a PEM private key";
    switch (error) {
      case KeyFileError::kPublicKey: reason = "is a public key: signing takes the private key"; break;
      case KeyFileError::kNotRsa: reason = "is not an RSA key, which the updater's check needs"; break;
      case KeyFileError::kWrongPassphrase: reason = "the passphrase does not open this key"; break;
      case KeyFileError::kNeedsPassphrase: reason = "is protected by a passphrase: give --passphrase-env VAR"; break;
      case KeyFileError::kUnsupportedCipher:
        reason = "is encrypted otherwise than PBES2 with PBKDF2-HMAC-SHA256 and AES-256-CBC (write it again with "
                 "\"openssl pkcs8 -topk8 -v2 aes-256-cbc -v2prf hmacWithSHA256\")";
        break;
      default: break;
    }
    report.Fail("key-unreadable", keyFile, 0, reason);
    return std::nullopt;
  }
  if (!KeyLargeEnough(key->Bits(), keyFile, report)) return std::nullopt;
  return SigningKey{std::move(*key), nullptr};
}

namespace {

std::optional<std::string> TokenPin(const TokenKey& token, const std::string& shown, Report& report) {
  if (!token.pinEnv.empty()) {
    auto pin = backend::EnvironmentUtf8(token.pinEnv);
    if (!pin) report.Fail("token-pin-missing", shown, 0, "--pin-env: the variable " + token.pinEnv + " is not set");
    return pin;
  }
  if (!backend::TerminalAvailable()) {
    report.Fail("token-pin-missing", shown, 0,
                "there is no terminal to ask the token's PIN on: give --pin-env VAR, the environment variable that "
                "holds it");
    return std::nullopt;
  }
  auto pin = backend::AskPassphrase("PIN of the token holding " + shown + ": ", false);
  if (!pin) report.Fail("token-pin-missing", shown, 0, "no PIN was read");
  return pin;
}

}  // namespace

std::optional<SigningKey> LoadTokenKey(const TokenKey& token, Report& report) {
  const std::string shown = "key \"" + token.label + "\"";
  const auto pin = TokenPin(token, shown, report);
  if (!pin) return std::nullopt;
  std::string problem;
  std::shared_ptr<Pkcs11Token> opened = Pkcs11Token::Open(token.module, token.label, *pin, false, problem);
  if (!opened) {
    report.Fail("token-refused", shown, 0, problem);
    return std::nullopt;
  }
  const auto publicKey = opened->PublicKey();
  if (!publicKey) {
    report.Fail("token-refused", shown, 0, "the token does not give the key's modulus");
    return std::nullopt;
  }
  if (!KeyLargeEnough(publicKey->Bits(), shown, report)) return std::nullopt;
  return SigningKey{{}, std::move(opened)};
}

bool GenerateTokenKeyPair(const std::string& keyFile, const TokenKey& token, Report& report) {
  const std::string publicKeyFile = PublicKeyFileOf(keyFile);
  if (backend::PathExists(publicKeyFile)) {
    report.Fail("key-exists", publicKeyFile, 0, "exists already; a key is never replaced");
    return false;
  }
  const std::string shown = "key \"" + token.label + "\"";
  const auto pin = TokenPin(token, shown, report);
  if (!pin) return false;
  std::string problem;
  const auto opened = Pkcs11Token::Open(token.module, token.label, *pin, true, problem);
  if (!opened || !opened->GenerateKeyPair(kKeyBits, problem)) {
    report.Fail(opened ? "key-generation-failed" : "token-refused", shown, 0, problem);
    return false;
  }
  const auto publicKey = opened->PublicKey();
  if (!publicKey) {
    report.Fail("key-generation-failed", shown, 0, "the token does not give the new key's modulus");
    return false;
  }
  if (!backend::MakeParentDirectories(publicKeyFile) ||
      !backend::WriteNewFile(publicKeyFile, PublicKeyPem(*publicKey), false)) {
    report.Fail("write-failed", publicKeyFile, 0, "cannot be created: " + backend::LastErrorText() +
                                                      " (the key is on the token, labelled \"" + token.label + "\")");
    return false;
  }
  return true;
}

bool SignPackage(FileSystem& files, const std::string& packageDir, const std::string& keyFile, Report& report,
                 const std::string& passphraseEnv) {
  const auto key = LoadSigningKey(keyFile, passphraseEnv, report);
  return key && SignPackage(files, packageDir, *key, report);
}

bool SignPackage(FileSystem& files, const std::string& packageDir, const SigningKey& key, Report& report) {
  const std::vector<std::string> names = PackageFilesTheRunReads(files, packageDir);
  if (names.empty() || names.front() != text::kDescriptionFileName) {
    report.Fail("description-missing", text::kDescriptionFileName, 0, "no package description: nothing to sign");
    return false;
  }
  // The updater passes over a missing archive without a word: signed so, the package
  // would install without it.
  const auto lines = LoadPackageDescription(files, JoinPath(packageDir, text::kDescriptionFileName));
  for (const std::string& archive : SubDirArchiveNames(lines.value_or(std::vector<std::string>{}))) {
    if (!files.FileExists(JoinPath(packageDir, archive))) {
      report.Fail("archive-missing", archive, 0, "named in [insubdir] of MjaIni.ini, but not in the package");
      return false;
    }
  }
  return SignFiles(files, packageDir, names, key, report);
}

bool SignFiles(FileSystem& files, const std::string& packageDir, const std::vector<std::string>& names,
               const SigningKey& key, Report& report) {
  const auto crypto = backend::ToolCrypto();
  std::vector<ManifestEntry> entries;
  for (const std::string& name : names) {
    if (!IsManifestName(name)) {
      report.Fail("name-refused", name, 0, "cannot stand in the signature file (see its format)");
      return false;
    }
    ClearSystemError();
    auto file = files.OpenForReading(JoinPath(packageDir, name));
    const auto digest = file ? DigestFile(*file, *crypto) : std::nullopt;
    if (!digest) {
      report.Fail("source-unreadable", name, 0, "cannot be read" + SystemReason());
      return false;
    }
    entries.push_back({name, file->Size(), *digest});
  }
  const std::string manifest = FormatManifest(entries);
  const auto signature = key.token ? key.token->SignSha256(manifest) : backend::SignSha256(key.key, manifest);
  if (!signature) {
    if (key.token) report.Fail("token-refused", "the key on the token", 0, key.token->LastProblem());
    else report.Fail("key-unreadable", "the private key", 0, "the system could not sign with it");
    return false;
  }
  ClearSystemError();
  if (!files.ReplaceWholeFile(JoinPath(packageDir, kSignatureFileName), FormatSignatureFile(manifest, *signature))) {
    report.Fail("write-failed", kSignatureFileName, 0, "cannot be written" + SystemReason() + "; the previous one is unchanged");
    return false;
  }
  return true;
}

bool VerifyPackage(FileSystem& files, const std::string& packageDir, const std::string& publicKeyFile,
                   Report& report, std::vector<std::string>* uncovered) {
  if (uncovered) {
    std::vector<std::string> read = PackageFilesTheRunReads(files, packageDir);
    read.push_back(kSignatureFileName);
    auto listing = files.ListMatching(packageDir + "\\*");
    while (auto entry = listing->Next()) {
      const bool isRead = std::any_of(read.begin(), read.end(),
                                      [&](const std::string& name) { return AnsiSameText(name, entry->name); });
      if (!entry->isDirectory && !isRead) uncovered->push_back(entry->name);
    }
    std::sort(uncovered->begin(), uncovered->end());
  }
  const auto publicKeyPem = ReadHostFile(publicKeyFile);
  if (!publicKeyPem) {
    report.Fail("key-unreadable", publicKeyFile, 0, "cannot be read: " + backend::LastErrorText());
    return false;
  }
  // Read as the updater's build reads it.
  const auto publicKey = ParseRsaPublicKeyPem(*publicKeyPem);
  if (!publicKey) {
    report.Fail("key-unreadable", publicKeyFile, 0,
                publicKeyPem->find("PRIVATE KEY-----") != std::string::npos
                    ? "is a private key: --public-key takes the public key (KEY.pub.pem), the one the updater is built with"
                    : "is not a PEM public key");
    return false;
  }
  if (!KeyLargeEnough(publicKey->Bits(), publicKeyFile, report)) return false;
  const auto crypto = backend::ToolCrypto();
  HeldPackage held;
  const auto fault = VerifyPackageForRun(files, *crypto, *publicKeyPem, packageDir, held);
  if (!fault) return true;
  const FaultWords words = Words(fault->kind);
  report.Fail(words.code, fault->file, 0, std::string(words.message) + "; the updater refuses the package");
  return false;
}

}  // namespace varno::pack
