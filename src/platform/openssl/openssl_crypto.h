// The cryptography service over OpenSSL, for the host: the tools and the native tests.
#pragma once

#include "platform/crypto.h"

namespace varno::openssl {

class OpenSslCrypto : public Crypto {
 public:
  std::unique_ptr<Sha256> StartSha256() override;
  bool VerifySignature(std::string_view publicKeyPem, std::string_view data, std::string_view signature) override;
};

}  // namespace varno::openssl
