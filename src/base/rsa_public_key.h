// An RSA public key as the vendor hands it to the build: PEM "PUBLIC KEY", that is a DER
// SubjectPublicKeyInfo of the rsaEncryption algorithm. Read here rather than by the
// system, so the updater needs nothing beyond the CryptoAPI of ADVAPI32 to check a
// signature.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varno {

// Below this an RSA key can be factored with means within reach; the build, the vendor's
// tool and the updater refuse such a key.
inline constexpr size_t kMinimumRsaKeyBits = 2048;

struct RsaPublicKey {
  std::string modulus;   // big-endian, no leading zero byte
  std::string exponent;  // big-endian, no leading zero byte
  // The modulus's size in bits, from its most significant bit.
  size_t Bits() const;
};

// The key of a PEM "PUBLIC KEY": nothing for anything else (another algorithm, a private
// key, a malformed or trailing encoding, a negative or zero number).
std::optional<RsaPublicKey> ParseRsaPublicKeyPem(std::string_view pem);

// The bytes of standard Base64 text (line ends and blanks between the characters allowed,
// "=" padding only at the end); nothing when it is not Base64.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace varno
