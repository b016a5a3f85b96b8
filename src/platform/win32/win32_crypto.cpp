#include "platform/win32/win32_crypto.h"

#include <algorithm>
#include <string>
#include <utility>

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

// The DER SubjectPublicKeyInfo inside a PEM "PUBLIC KEY".
std::optional<std::string> DerOfPem(std::string_view pem) {
  DWORD size = 0;
  const DWORD length = static_cast<DWORD>(pem.size());
  if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    return std::nullopt;
  }
  std::string der(size, '\0');
  if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &size,
                            nullptr, nullptr)) {
    return std::nullopt;
  }
  der.resize(size);
  return der;
}

}  // namespace

std::unique_ptr<Sha256> Win32Crypto::StartSha256() {
  auto digest = std::make_unique<Win32Sha256>();
  // A digest that failed at its start is refused now rather than at its end.
  if (!digest->Add("", 0)) return nullptr;
  return digest;
}

bool Win32Crypto::VerifySignature(std::string_view publicKeyPem, std::string_view data, std::string_view signature) {
  const auto der = DerOfPem(publicKeyPem);
  if (!der || signature.empty()) return false;

  CERT_PUBLIC_KEY_INFO* info = nullptr;
  DWORD infoSize = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, reinterpret_cast<const BYTE*>(der->data()),
                           static_cast<DWORD>(der->size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &infoSize)) {
    return false;
  }
  Provider provider;
  Key key;
  const bool imported =
      provider.Get() && CryptImportPublicKeyInfo(provider.Get(), X509_ASN_ENCODING, info, key.Out()) != FALSE;
  LocalFree(info);
  if (!imported) return false;

  Hash hash(provider.Get());
  if (!hash.Get() || !hash.Add(data.data(), data.size())) return false;
  // CryptoAPI reads a signature least significant byte first, the reverse of how RSA
  // (and OpenSSL, which made it) writes it.
  std::string reversed(signature.rbegin(), signature.rend());
  return CryptVerifySignatureA(hash.Get(), reinterpret_cast<const BYTE*>(reversed.data()),
                               static_cast<DWORD>(reversed.size()), key.Get(), nullptr, 0) != FALSE;
}

}  // namespace varno::win32
