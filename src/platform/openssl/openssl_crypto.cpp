#include "platform/openssl/openssl_crypto.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

namespace varno::openssl {
namespace {

struct FreeDigest {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FreeKey {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeBio {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, FreeDigest>;

class OpenSslSha256 : public Sha256 {
 public:
  OpenSslSha256() : context_(EVP_MD_CTX_new()) {
    failed_ = !context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1;
  }
  bool Add(const char* data, size_t size) override {
    if (!failed_ && EVP_DigestUpdate(context_.get(), data, size) != 1) failed_ = true;
    return !failed_;
  }
  std::optional<std::string> Finish() override {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (failed_ || EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) return std::nullopt;
    failed_ = true;  // a digest is finished once
    return std::string(reinterpret_cast<const char*>(digest), length);
  }

 private:
  DigestContext context_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Sha256> OpenSslCrypto::StartSha256() { return std::make_unique<OpenSslSha256>(); }

bool OpenSslCrypto::VerifySignature(std::string_view publicKeyPem, std::string_view data, std::string_view signature) {
  std::unique_ptr<BIO, FreeBio> bio(BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())));
  if (!bio) return false;
  std::unique_ptr<EVP_PKEY, FreeKey> key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_RSA) return false;
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                          reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

}  // namespace varno::openssl
