// Signing's platform on Linux: OpenSSL and POSIX files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include "platform/openssl/openssl_crypto.h"
#include "signing/signing_backend.h"

namespace varno::pack::backend {
namespace {

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
struct FreeCipher {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, FreeKey>;
using Bio = std::unique_ptr<BIO, FreeBio>;

const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

class OpenSslKeyCipher : public KeyCipher {
 public:
  std::optional<std::string> Pbkdf2HmacSha256(std::string_view passphrase, std::string_view salt, uint32_t iterations,
                                              size_t length) override {
    std::string key(length, '\0');
    if (PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), Bytes(salt),
                          static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                          static_cast<int>(length), reinterpret_cast<unsigned char*>(key.data())) != 1) {
      return std::nullopt;
    }
    return key;
  }
  std::optional<std::string> Aes256Cbc(bool encrypt, std::string_view key, std::string_view iv,
                                       std::string_view data) override {
    std::unique_ptr<EVP_CIPHER_CTX, FreeCipher> context(EVP_CIPHER_CTX_new());
    std::string out(data.size() + 16, '\0');
    int first = 0, last = 0;
    if (!context || key.size() != 32 || iv.size() != 16 ||
        EVP_CipherInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, Bytes(key), Bytes(iv), encrypt ? 1 : 0) != 1 ||
        EVP_CipherUpdate(context.get(), reinterpret_cast<unsigned char*>(out.data()), &first, Bytes(data),
                         static_cast<int>(data.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), reinterpret_cast<unsigned char*>(out.data()) + first, &last) != 1) {
      return std::nullopt;
    }
    out.resize(static_cast<size_t>(first + last));
    return out;
  }
  std::optional<std::string> RandomBytes(size_t count) override {
    std::string bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1) return std::nullopt;
    return bytes;
  }
};

}  // namespace

std::unique_ptr<Crypto> ToolCrypto() { return std::make_unique<openssl::OpenSslCrypto>(); }
std::unique_ptr<KeyCipher> ToolKeyCipher() { return std::make_unique<OpenSslKeyCipher>(); }

std::optional<RsaPrivateKey> MakeRsaKey(int bits) {
  std::unique_ptr<EVP_PKEY_CTX, FreeKeyContext> context(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr));
  EVP_PKEY* made = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), bits) != 1 || EVP_PKEY_keygen(context.get(), &made) != 1) {
    return std::nullopt;
  }
  Key key(made);
  Bio pem(BIO_new(BIO_s_mem()));
  if (!pem || PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return std::nullopt;
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(pem.get(), &data);
  KeyFileError error;
  return ParseRsaPrivateKeyPem(std::string_view(data, static_cast<size_t>(size)), nullptr, nullptr, error);
}

std::optional<std::string> SignSha256(const RsaPrivateKey& privateKey, std::string_view data) {
  const std::string pem = PrivateKeyPem(privateKey);
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  std::unique_ptr<EVP_MD_CTX, FreeDigest> context(EVP_MD_CTX_new());
  size_t size = 0;
  if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &size, Bytes(data), data.size()) != 1) {
    return std::nullopt;
  }
  std::string signature(size, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size, Bytes(data),
                     data.size()) != 1) {
    return std::nullopt;
  }
  signature.resize(size);
  return signature;
}

std::optional<std::string> EnvironmentUtf8(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

// OpenSSL asks on the process's terminal; without one it would read nothing.
bool TerminalAvailable() {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::optional<std::string> AskPassphrase(const std::string& prompt, bool twice) {
  char buffer[1024];
  const int outcome = EVP_read_pw_string(buffer, sizeof(buffer), prompt.c_str(), twice ? 1 : 0);
  std::optional<std::string> answer;
  if (outcome == 0) answer = std::string(buffer);
  OPENSSL_cleanse(buffer, sizeof(buffer));
  return answer;
}

bool PathExists(const std::string& path) {
  struct stat info{};
  return ::lstat(path.c_str(), &info) == 0;
}

bool MakeParentDirectories(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return true;
  const std::string parent = path.substr(0, slash);
  struct stat info{};
  if (::stat(parent.c_str(), &info) == 0) return S_ISDIR(info.st_mode) || (errno = ENOTDIR, false);
  if (!MakeParentDirectories(parent)) return false;
  return ::mkdir(parent.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly) {
  const mode_t mode = ownerOnly ? 0600 : 0644;
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
  if (!ok) {
    const int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
  }
  return ok;
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::string LastErrorText() { return std::strerror(errno); }

}  // namespace varno::pack::backend
