#pragma once

#include "platform/crypto.h"

namespace varno::win32 {

// CryptoAPI (advapi32 and crypt32) only, as Windows XP SP3 has it: the RSA and AES
// provider for SHA-256, and the public key imported from its SubjectPublicKeyInfo.
class Win32Crypto : public Crypto {
 public:
  std::unique_ptr<Sha256> StartSha256() override;
  bool VerifySignature(std::string_view publicKeyPem, std::string_view data, std::string_view signature) override;
};

}  // namespace varno::win32
