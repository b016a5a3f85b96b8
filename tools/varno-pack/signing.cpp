#include "signing.h"
#include "package_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "base/ansi_text.h"
#include "base/rsa_public_key.h"
#include "base/texts.h"
#include "package/package_manifest.h"
#include "package/section_lookup.h"
#include "platform/openssl/openssl_crypto.h"
#include "steps/package_files.h"

namespace varno::pack {
namespace {

constexpr int kKeyBits = 3072;
// The updater's build refuses a smaller key: a package signed with it could never be applied.
constexpr int kMinimumKeyBits = static_cast<int>(kMinimumRsaKeyBits);

struct FreeKey {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeBio {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct FreeKeyContext {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct FreeDigest {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, FreeKey>;
using Bio = std::unique_ptr<BIO, FreeBio>;

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

// Creates the file with the mode, never over an existing one, and removes it again when
// the bytes do not all reach it.
bool WriteNewFile(const std::string& path, const std::string& bytes, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return false;
  // The umask may have narrowed the mode; a private key's must be exactly the owner's.
  bool ok = ::fchmod(fd, mode) == 0;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) ok = false;
    else done += static_cast<size_t>(written);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok) ::unlink(path.c_str());
  return ok;
}

std::optional<std::string> ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

struct Passphrase {
  const std::string* fromEnvironment = nullptr;
  std::string prompt;
  bool asked = false;
};

// OpenSSL asks for the passphrase of an encrypted key through this; it is asked once.
extern "C" int GivePassphrase(char* buffer, int size, int, void* data) {
  auto* passphrase = static_cast<Passphrase*>(data);
  if (passphrase->asked) return -1;
  passphrase->asked = true;
  if (passphrase->fromEnvironment) {
    const std::string& text = *passphrase->fromEnvironment;
    if (static_cast<int>(text.size()) > size) return -1;
    std::memcpy(buffer, text.data(), text.size());
    return static_cast<int>(text.size());
  }
  if (EVP_read_pw_string(buffer, size, passphrase->prompt.c_str(), 0) != 0) return -1;
  return static_cast<int>(std::strlen(buffer));
}

// Whether a passphrase can be asked: OpenSSL asks on the process's terminal, and without
// one it would read nothing and report a wrong passphrase.
bool TerminalAvailable() {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Makes the directories of path that are missing, readable by their owner only: they are
// made to hold a private key.
bool MakeParentDirectories(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return true;
  const std::string parent = path.substr(0, slash);
  struct stat info{};
  if (::stat(parent.c_str(), &info) == 0) return S_ISDIR(info.st_mode) || (errno = ENOTDIR, false);
  if (!MakeParentDirectories(parent)) return false;
  return ::mkdir(parent.c_str(), 0700) == 0 || errno == EEXIST;
}

// The new key's passphrase: nothing for an unencrypted key, or false with the reason.
bool NewPassphrase(const NewKeyPassphrase& source, const std::string& keyFile, std::optional<std::string>& passphrase,
                   Report& report) {
  if (!source.environmentVariable.empty()) {
    const char* value = std::getenv(source.environmentVariable.c_str());
    if (!value || !*value) {
      report.Fail("key-passphrase-missing", keyFile, 0,
                  "--passphrase-env: the variable " + source.environmentVariable + (value ? " is empty" : " is not set") +
                      "; nothing was made");
      return false;
    }
    passphrase = value;
    return true;
  }
  if (!source.ask) return true;
  if (!TerminalAvailable()) {
    report.Fail("key-passphrase-missing", keyFile, 0,
                "there is no terminal to ask the passphrase on; give --passphrase-env VAR; nothing was made");
    return false;
  }
  char buffer[1024];
  const std::string prompt = "Passphrase for " + keyFile + ": ";
  // The last argument asks a second time and fails when the two answers differ.
  const int outcome = EVP_read_pw_string(buffer, sizeof(buffer), prompt.c_str(), 1);
  const std::string answer = outcome == 0 ? std::string(buffer) : std::string();
  OPENSSL_cleanse(buffer, sizeof(buffer));
  if (outcome != 0 || answer.empty()) {
    report.Fail("key-passphrase-missing", keyFile, 0,
                outcome != 0 ? "the two passphrases differ (or none was read); nothing was made"
                             : "an empty passphrase protects nothing; nothing was made");
    return false;
  }
  passphrase = answer;
  return true;
}

// False, with the reason in report, for a key of fewer bits than kMinimumKeyBits.
bool KeyLargeEnough(EVP_PKEY* key, const std::string& keyFile, Report& report) {
  const int bits = EVP_PKEY_bits(key);
  if (bits >= kMinimumKeyBits) return true;
  report.Fail("key-too-small", keyFile, 0,
              "is an RSA key of " + std::to_string(bits) + " bits; at least " + std::to_string(kMinimumKeyBits) +
                  " are required (keygen makes " + std::to_string(kKeyBits) + ")");
  return false;
}

std::optional<std::string> Sign(const std::string& privateKeyPem, std::string_view data) {
  Bio bio(BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
  Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_RSA) return std::nullopt;
  std::unique_ptr<EVP_MD_CTX, FreeDigest> context(EVP_MD_CTX_new());
  size_t size = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
    return std::nullopt;
  }
  std::string signature(size, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                     reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
    return std::nullopt;
  }
  signature.resize(size);
  return signature;
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
    struct stat info{};
    if (::lstat(path.c_str(), &info) == 0) {
      report.Fail("key-exists", path, 0, "exists already; a key is never replaced");
      return false;
    }
  }
  std::optional<std::string> passphrase;
  if (!NewPassphrase(passphraseSource, privateKeyFile, passphrase, report)) return false;
  if (!MakeParentDirectories(privateKeyFile)) {
    report.Fail("write-failed", privateKeyFile, 0, std::string("its directory cannot be made: ") + std::strerror(errno));
    return false;
  }
  std::unique_ptr<EVP_PKEY_CTX, FreeKeyContext> context(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr));
  EVP_PKEY* made = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), kKeyBits) != 1 || EVP_PKEY_keygen(context.get(), &made) != 1) {
    report.Fail("key-generation-failed", privateKeyFile, 0, "OpenSSL could not make an RSA key");
    return false;
  }
  Key key(made);
  Bio privatePem(BIO_new(BIO_s_mem())), publicPem(BIO_new(BIO_s_mem()));
  if (!privatePem || !publicPem ||
      (passphrase ? PEM_write_bio_PKCS8PrivateKey(privatePem.get(), key.get(), EVP_aes_256_cbc(), passphrase->data(),
                                                  static_cast<int>(passphrase->size()), nullptr, nullptr)
                  : PEM_write_bio_PrivateKey(privatePem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr)) != 1 ||
      PEM_write_bio_PUBKEY(publicPem.get(), key.get()) != 1) {
    report.Fail("key-generation-failed", privateKeyFile, 0, "OpenSSL could not write the key");
    return false;
  }
  if (!WriteNewFile(privateKeyFile, BioText(privatePem.get()), 0600)) {
    report.Fail("write-failed", privateKeyFile, 0, std::string("cannot be created: ") + std::strerror(errno));
    return false;
  }
  if (!WriteNewFile(publicKeyFile, BioText(publicPem.get()), 0644)) {
    const std::string reason = std::strerror(errno);
    ::unlink(privateKeyFile.c_str());  // half a pair is of no use
    report.Fail("write-failed", publicKeyFile, 0, "cannot be created: " + reason);
    return false;
  }
  return true;
}

std::optional<SigningKey> LoadSigningKey(const std::string& keyFile, const std::string& passphraseEnv,
                                         Report& report) {
  const auto text = ReadHostFile(keyFile);
  if (!text) {
    report.Fail("key-unreadable", keyFile, 0, std::string("cannot be read: ") + std::strerror(errno));
    return std::nullopt;
  }
  std::string fromEnvironment;
  Passphrase passphrase;
  passphrase.prompt = "Passphrase of " + keyFile + ": ";
  if (!passphraseEnv.empty()) {
    const char* value = std::getenv(passphraseEnv.c_str());
    if (!value) {
      report.Fail("key-unreadable", keyFile, 0, "--passphrase-env: the variable " + passphraseEnv + " is not set");
      return std::nullopt;
    }
    fromEnvironment = value;
    passphrase.fromEnvironment = &fromEnvironment;
  } else if (text->find("ENCRYPTED") != std::string::npos && !TerminalAvailable()) {
    report.Fail("key-unreadable", keyFile, 0,
                "is protected by a passphrase and there is no terminal to ask it on: give --passphrase-env VAR, "
                "the environment variable that holds it");
    return std::nullopt;
  }
  Bio bio(BIO_new_mem_buf(text->data(), static_cast<int>(text->size())));
  Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, GivePassphrase, &passphrase) : nullptr);
  if (!key) {
    const bool encrypted = text->find("ENCRYPTED") != std::string::npos;
    report.Fail("key-unreadable", keyFile, 0,
                text->find("PUBLIC KEY-----") != std::string::npos
                    ? "is a public key: signing takes the private key"
                : encrypted ? "the passphrase does not open this key"
                            : "is not a PEM private key");
    return std::nullopt;
  }
  if (EVP_PKEY_base_id(key.get()) != EVP_PKEY_RSA) {
    report.Fail("key-unreadable", keyFile, 0, "is not an RSA key, which the updater's check needs");
    return std::nullopt;
  }
  if (!KeyLargeEnough(key.get(), keyFile, report)) return std::nullopt;
  Bio pem(BIO_new(BIO_s_mem()));
  if (!pem || PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    report.Fail("key-unreadable", keyFile, 0, "OpenSSL could not hold the key");
    return std::nullopt;
  }
  return SigningKey{BioText(pem.get())};
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
  const std::string* privateKeyPem = &key.pem;
  const std::string keyFile = "the private key";
  openssl::OpenSslCrypto crypto;
  std::vector<ManifestEntry> entries;
  for (const std::string& name : names) {
    if (!IsManifestName(name)) {
      report.Fail("name-refused", name, 0, "cannot stand in the signature file (see its format)");
      return false;
    }
    ClearSystemError();
    auto file = files.OpenForReading(JoinPath(packageDir, name));
    const auto digest = file ? DigestFile(*file, crypto) : std::nullopt;
    if (!digest) {
      report.Fail("source-unreadable", name, 0, "cannot be read" + SystemReason());
      return false;
    }
    entries.push_back({name, file->Size(), *digest});
  }
  const std::string manifest = FormatManifest(entries);
  const auto signature = Sign(*privateKeyPem, manifest);
  if (!signature) {
    report.Fail("key-unreadable", keyFile, 0, "is not a PEM RSA private key");
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
    report.Fail("key-unreadable", publicKeyFile, 0, std::string("cannot be read: ") + std::strerror(errno));
    return false;
  }
  Bio bio(BIO_new_mem_buf(publicKeyPem->data(), static_cast<int>(publicKeyPem->size())));
  Key publicKey(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!publicKey) {
    report.Fail("key-unreadable", publicKeyFile, 0,
                publicKeyPem->find("PRIVATE KEY-----") != std::string::npos
                    ? "is a private key: --public-key takes the public key (KEY.pub.pem), the one the updater is built with"
                    : "is not a PEM public key");
    return false;
  }
  if (!KeyLargeEnough(publicKey.get(), publicKeyFile, report)) return false;
  openssl::OpenSslCrypto crypto;
  HeldPackage held;
  const auto fault = VerifyPackageForRun(files, crypto, *publicKeyPem, packageDir, held);
  if (!fault) return true;
  const FaultWords words = Words(fault->kind);
  report.Fail(words.code, fault->file, 0, std::string(words.message) + "; the updater refuses the package");
  return false;
}

}  // namespace varno::pack
