#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace varno {

// A SHA-256 digest under way.
class Sha256 {
 public:
  virtual ~Sha256() = default;

  /// Feeds bytes. False when the system refused them; the digest is then unusable.
  virtual bool Add(const char* data, size_t size) = 0;

  /// The 32 bytes of the digest; nothing after a failure.
  virtual std::optional<std::string> Finish() = 0;
};

// The system's cryptography: digests and the check of a vendor's signature. The updater
// never makes its own, so what it trusts is what the system certifies.
class Crypto {
 public:
  virtual ~Crypto() = default;

  /// Starts a SHA-256 digest; nothing when the system offers none.
  virtual std::unique_ptr<Sha256> StartSha256() = 0;

  /// True only when signature (big-endian, as RSA writes it) is an RSA PKCS#1 v1.5
  /// signature of the SHA-256 of data made with the private half of publicKeyPem (a PEM
  /// "PUBLIC KEY", that is a SubjectPublicKeyInfo). A malformed key or signature, or any
  /// failure of the system, is false.
  virtual bool VerifySignature(std::string_view publicKeyPem, std::string_view data, std::string_view signature) = 0;
};

}  // namespace varno
