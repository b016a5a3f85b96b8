#include "platform/win32/win32_crypto.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/rsa_public_key.h"
#include "platform/win32/win32.h"
// Left out of <windows.h> by WIN32_LEAN_AND_MEAN.
#include <wincrypt.h>

// XP SP3 has SHA-256 in its AES provider, but the headers declare it only for a later
// target version than the one the program is built for.
#ifndef CALG_SHA_256
#define CALG_SHA_256 0x0000800c
#endif
#ifndef PROV_RSA_AES
#define PROV_RSA_AES 24
#endif

namespace varno::win32 {
namespace {

class Provider {
 public:
  // The verify-only context needs no key container, so it works for any account and
  // never touches the user's profile. The default provider of PROV_RSA_AES is the only
  // one that knows SHA-256 (XP SP3 included).
  Provider() {
    if (!CryptAcquireContextA(&handle_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) handle_ = 0;
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  ~Provider() {
    if (handle_) CryptReleaseContext(handle_, 0);
  }
  HCRYPTPROV Get() const { return handle_; }

 private:
  HCRYPTPROV handle_ = 0;
};

class Hash {
 public:
  explicit Hash(HCRYPTPROV provider) {
    if (!provider || !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &handle_)) handle_ = 0;
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  ~Hash() {
    if (handle_) CryptDestroyHash(handle_);
  }
  HCRYPTHASH Get() const { return handle_; }

  bool Add(const char* data, size_t size) {
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      if (!CryptHashData(handle_, reinterpret_cast<const BYTE*>(data), chunk, 0)) return false;
      data += chunk;
      size -= chunk;
    }
    return true;
  }

 private:
  HCRYPTHASH handle_ = 0;
};

class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (handle_) CryptDestroyKey(handle_);
  }
  HCRYPTKEY* Out() { return &handle_; }
  HCRYPTKEY Get() const { return handle_; }

 private:
  HCRYPTKEY handle_ = 0;
};

class Win32Sha256 : public Sha256 {
 public:
  Win32Sha256() : hash_(provider_.Get()), failed_(!hash_.Get()) {}

  bool Add(const char* data, size_t size) override {
    if (!failed_ && !hash_.Add(data, size)) failed_ = true;
    return !failed_;
  }

  std::optional<std::string> Finish() override {
    BYTE digest[32];
    DWORD length = sizeof(digest);
    if (failed_ || !CryptGetHashParam(hash_.Get(), HP_HASHVAL, digest, &length, 0) || length != sizeof(digest)) {
      return std::nullopt;
    }
    failed_ = true;  // CryptoAPI refuses more data once the value was read
    return std::string(reinterpret_cast<const char*>(digest), length);
  }

 private:
  Provider provider_;
  Hash hash_;
  bool failed_;
};

// The key as CryptImportKey takes it: a PUBLICKEYBLOB, the modulus least significant
// byte first. The key is read by the core rather than by CRYPT32 (CryptDecodeObjectEx,
// CryptImportPublicKeyInfo): CRYPT32 is not a library Windows always takes from the
// system directory, and the elevated updater imports none that is not.
std::optional<std::string> PublicKeyBlob(std::string_view pem) {
  const auto key = ParseRsaPublicKeyPem(pem);
  if (!key || key->Bits() < kMinimumRsaKeyBits || key->exponent.size() > 4 || key->modulus.size() > 16384 / 8) {
    return std::nullopt;
  }
  DWORD exponent = 0;
  for (const char byte : key->exponent) exponent = exponent << 8 | static_cast<unsigned char>(byte);
  BLOBHEADER header{};
  header.bType = PUBLICKEYBLOB;
  header.bVersion = CUR_BLOB_VERSION;
  header.aiKeyAlg = CALG_RSA_SIGN;
  RSAPUBKEY rsa{};
  rsa.magic = 0x31415352;  // "RSA1": a public key
  rsa.bitlen = static_cast<DWORD>(key->modulus.size() * 8);
  rsa.pubexp = exponent;
  std::string blob(reinterpret_cast<const char*>(&header), sizeof(header));
  blob.append(reinterpret_cast<const char*>(&rsa), sizeof(rsa));
  blob.append(key->modulus.rbegin(), key->modulus.rend());
  return blob;
}

}  // namespace

std::unique_ptr<Sha256> Win32Crypto::StartSha256() {
  auto digest = std::make_unique<Win32Sha256>();
  // A digest that failed at its start is refused now rather than at its end.
  if (!digest->Add("", 0)) return nullptr;
  return digest;
}

bool Win32Crypto::VerifySignature(std::string_view publicKeyPem, std::string_view data, std::string_view signature) {
  const auto blob = PublicKeyBlob(publicKeyPem);
  if (!blob || signature.empty()) return false;
  Provider provider;
  Key key;
  if (!provider.Get() || !CryptImportKey(provider.Get(), reinterpret_cast<const BYTE*>(blob->data()),
                                         static_cast<DWORD>(blob->size()), 0, 0, key.Out())) {
    return false;
  }

  Hash hash(provider.Get());
  if (!hash.Get() || !hash.Add(data.data(), data.size())) return false;
  // CryptoAPI reads a signature least significant byte first, the reverse of how RSA
  // (and OpenSSL, which made it) writes it.
  std::string reversed(signature.rbegin(), signature.rend());
  return CryptVerifySignatureA(hash.Get(), reinterpret_cast<const BYTE*>(reversed.data()),
                               static_cast<DWORD>(reversed.size()), key.Get(), nullptr, 0) != FALSE;
}

}  // namespace varno::win32
