// The vendor's signing key kept on a token or an HSM, reached through its PKCS#11 module
// (the vendor's library, loaded by path: dlopen on Linux, LoadLibrary on Windows). The key
// never leaves the token: it signs RSASSA-PKCS1-v1_5 over SHA-256 (CKM_SHA256_RSA_PKCS),
// the same signature a key file gives.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "signing/private_key_der.h"

namespace varno::pack {

class Pkcs11Token {
 public:
  // Loads the module, finds among the initialised tokens the one holding a key labelled
  // keyLabel and logs in with pin. Nothing, with the reason for a person in problem, when
  // the module cannot be loaded or is no PKCS#11 module, the PIN is refused, or no token
  // holds a private RSA key of that label (or, with forNewKey, when one already does).
  static std::unique_ptr<Pkcs11Token> Open(const std::string& module, const std::string& keyLabel,
                                           const std::string& pin, bool forNewKey, std::string& problem);
  virtual ~Pkcs11Token() = default;

  // The key's public half (modulus and exponent; the private numbers stay empty).
  virtual std::optional<RsaPrivateKey> PublicKey() = 0;
  virtual std::optional<std::string> SignSha256(std::string_view data) = 0;
  // Why the last call failed, for a person.
  virtual std::string LastProblem() const = 0;
  // Makes an RSA pair of this many bits on the token, labelled as asked: the private key
  // sensitive and never extractable. False with the reason in problem.
  virtual bool GenerateKeyPair(int bits, std::string& problem) = 0;
};

}  // namespace varno::pack
