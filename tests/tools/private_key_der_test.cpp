// The key files the tool reads and writes itself, held against OpenSSL's reading of them.
#include "signing/private_key_der.h"

#include <memory>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "base/rsa_public_key.h"
#include "signing/signing_backend.h"

namespace varno::pack {
namespace {

struct FreeKey {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeBio {
  void operator()(BIO* bio) const { BIO_free(bio); }
};

// OpenSSL's reading of a PEM private key, written back unencrypted: "" when it cannot read it.
std::string OpenSslRewrite(const std::string& pem, const char* passphrase) {
  std::unique_ptr<BIO, FreeBio> in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  std::unique_ptr<EVP_PKEY, FreeKey> key(
      PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, const_cast<char*>(passphrase)));
  if (!key) return "";
  std::unique_ptr<BIO, FreeBio> out(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

TEST(PrivateKeyFiles, AreTheOnesOpenSslWritesAndReads) {
  const auto key = backend::MakeRsaKey(2048);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Bits(), 2048u);
  const std::string plain = PrivateKeyPem(*key);
  EXPECT_EQ(OpenSslRewrite(plain, nullptr), plain) << "DER is canonical: the same bytes as OpenSSL's";
  const auto cipher = backend::ToolKeyCipher();
  const auto locked = EncryptedPrivateKeyPem(*key, "s3cret", *cipher);
  ASSERT_TRUE(locked);
  EXPECT_TRUE(IsEncryptedPrivateKeyPem(*locked));
  EXPECT_EQ(OpenSslRewrite(*locked, "s3cret"), plain);

  KeyFileError error = KeyFileError::kNone;
  const std::string passphrase = "s3cret";
  const auto opened = ParseRsaPrivateKeyPem(*locked, &passphrase, cipher.get(), error);
  ASSERT_TRUE(opened);
  EXPECT_EQ(PrivateKeyPem(*opened), plain);
  const std::string wrong = "s3cret!";
  EXPECT_FALSE(ParseRsaPrivateKeyPem(*locked, &wrong, cipher.get(), error));
  EXPECT_EQ(error, KeyFileError::kWrongPassphrase);
  EXPECT_FALSE(ParseRsaPrivateKeyPem(*locked, nullptr, nullptr, error));
  EXPECT_EQ(error, KeyFileError::kNeedsPassphrase);
  EXPECT_FALSE(ParseRsaPrivateKeyPem(PublicKeyPem(*key), nullptr, nullptr, error));
  EXPECT_EQ(error, KeyFileError::kPublicKey);
  EXPECT_TRUE(ParseRsaPublicKeyPem(PublicKeyPem(*key)));
}

// A decryption whose padding checks by chance: what comes out is noise, not a key.
class PaddingThatChecks : public KeyCipher {
 public:
  explicit PaddingThatChecks(KeyCipher& real) : real_(real) {}
  std::optional<std::string> Pbkdf2HmacSha256(std::string_view passphrase, std::string_view salt, uint32_t iterations,
                                              size_t length) override {
    return real_.Pbkdf2HmacSha256(passphrase, salt, iterations, length);
  }
  std::optional<std::string> Aes256Cbc(bool encrypt, std::string_view key, std::string_view iv,
                                       std::string_view data) override {
    if (encrypt) return real_.Aes256Cbc(encrypt, key, iv, data);
    return std::string("\x30\x82\x04\xbd\x02\x01\x00\x30\x0d noise", 15);
  }
  std::optional<std::string> RandomBytes(size_t count) override { return real_.RandomBytes(count); }

 private:
  KeyCipher& real_;
};

TEST(PrivateKeyFiles, AStructureThatDoesNotParseAfterDecryptionIsAWrongPassphrase) {
  const auto key = backend::MakeRsaKey(2048);
  ASSERT_TRUE(key);
  const auto real = backend::ToolKeyCipher();
  PaddingThatChecks lucky(*real);
  const auto locked = EncryptedPrivateKeyPem(*key, "s3cret", lucky);
  ASSERT_TRUE(locked);
  KeyFileError error = KeyFileError::kNone;
  const std::string passphrase = "other";
  EXPECT_FALSE(ParseRsaPrivateKeyPem(*locked, &passphrase, &lucky, error));
  EXPECT_EQ(error, KeyFileError::kWrongPassphrase);
}

}  // namespace
}  // namespace varno::pack
