#pragma once

#include "platform/crypto.h"

namespace varno::win32 {

// The CryptoAPI of advapi32 only, as Windows XP SP3 has it: the RSA and AES provider for
// SHA-256, and the public key imported as a key blob made from its SubjectPublicKeyInfo
// (a key of fewer than 2048 bits is never imported).
class Win32Crypto : public Crypto {
 public:
  std::unique_ptr<Sha256> StartSha256() override;
  bool VerifySignature(std::string_view publicKeyPem, std::string_view data, std::string_view signature) override;
};

}  // namespace varno::win32
