// The vendor's RSA key files read and written by the tool itself, so that both builds make
// and open the same files: PEM "PRIVATE KEY" (PKCS#8), "ENCRYPTED PRIVATE KEY" (PKCS#8
// under PBES2: PBKDF2 with HMAC-SHA256, AES-256-CBC), the older "RSA PRIVATE KEY" (PKCS#1)
// on reading, and "PUBLIC KEY" (SubjectPublicKeyInfo). Windows' own decoders cannot read
// most of these, so the DER is handled here; the platform gives only the primitives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varno::pack {

// The numbers of an RSA private key, big-endian, without leading zero bytes.
struct RsaPrivateKey {
  std::string modulus, publicExponent, privateExponent, prime1, prime2, exponent1, exponent2, coefficient;
  size_t Bits() const;
};

// What PBES2 needs of the platform.
class KeyCipher {
 public:
  virtual ~KeyCipher() = default;
  virtual std::optional<std::string> Pbkdf2HmacSha256(std::string_view passphrase, std::string_view salt,
                                                      uint32_t iterations, size_t length) = 0;
  // AES-256-CBC with PKCS#7 padding; nothing when decrypting finds a padding that does not check.
  virtual std::optional<std::string> Aes256Cbc(bool encrypt, std::string_view key, std::string_view iv,
                                               std::string_view data) = 0;
  virtual std::optional<std::string> RandomBytes(size_t count) = 0;
};

enum class KeyFileError {
  kNone,
  kPublicKey,         // a public key where a private one is wanted
  kNotAPrivateKey,    // no PEM private key, or one that does not parse
  kNotRsa,            // a private key of another algorithm
  kWrongPassphrase,   // the passphrase does not open it (a padding that checks by chance included)
  kNeedsPassphrase,   // encrypted, and no passphrase given
  kUnsupportedCipher  // encrypted otherwise than PBES2 with PBKDF2-HMAC-SHA256 and AES-256-CBC
};

// True when the PEM is an encrypted private key.
bool IsEncryptedPrivateKeyPem(std::string_view pem);

// The key of a private key PEM; passphrase and cipher are needed for an encrypted one only.
std::optional<RsaPrivateKey> ParseRsaPrivateKeyPem(std::string_view pem, const std::string* passphrase,
                                                   KeyCipher* cipher, KeyFileError& error);

// PEM "PRIVATE KEY" (unencrypted PKCS#8), as OpenSSL writes it.
std::string PrivateKeyPem(const RsaPrivateKey& key);
// PEM "ENCRYPTED PRIVATE KEY": PBES2, PBKDF2-HMAC-SHA256 over a new 16-byte salt with
// iterations rounds, AES-256-CBC with a new IV. Nothing when the platform fails.
std::optional<std::string> EncryptedPrivateKeyPem(const RsaPrivateKey& key, std::string_view passphrase,
                                                  KeyCipher& cipher, uint32_t iterations = 2048);
// PEM "PUBLIC KEY" of the key's public half.
std::string PublicKeyPem(const RsaPrivateKey& key);

// The PEM armour of DER bytes, 64 Base64 characters a line.
std::string Pem(std::string_view label, std::string_view der);

}  // namespace varno::pack
