// Signing's platform on Windows (Vista or later): CryptoAPI for the RSA key and its
// signature, CNG for PBKDF2, AES and random bytes, Win32 files. The key files themselves are
// read and written by private_key_der.cpp: crypt32 cannot decode PKCS#8 or write a private
// key under Wine, and neither NCryptImportKey nor BCryptImportKeyPair takes ours there.
// The updater's libraries are built for Windows XP; this file needs Vista's CNG and SHA-256.
#undef WINVER
#undef _WIN32_WINNT
#define WINVER 0x0600
#define _WIN32_WINNT 0x0600
#include <windows.h>
// After windows.h, which they need.
#include <bcrypt.h>
#include <sddl.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "platform/win32/win32_crypto.h"
#include "signing/signing_backend.h"

namespace varno::pack::backend {
namespace {

DWORD lastError = 0;

bool Fail() {
  lastError = GetLastError();
  return false;
}

// CryptoAPI's numbers are little-endian, of a fixed width.
std::string LittleEndian(const std::string& bigEndian, size_t width) {
  std::string bytes(bigEndian.rbegin(), bigEndian.rend());
  bytes.resize(width, '\0');
  return bytes;
}
std::string BigEndian(std::string_view littleEndian) {
  std::string bytes(littleEndian.rbegin(), littleEndian.rend());
  const size_t first = bytes.find_first_not_of('\0');
  return first == std::string::npos ? std::string() : bytes.substr(first);
}

struct Provider {
  HCRYPTPROV handle = 0;
  Provider() {
    if (!CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) handle = 0;
  }
  ~Provider() {
    if (handle) CryptReleaseContext(handle, 0);
  }
};
struct CryptKey {
  HCRYPTKEY handle = 0;
  ~CryptKey() {
    if (handle) CryptDestroyKey(handle);
  }
};
struct CryptHash {
  HCRYPTHASH handle = 0;
  ~CryptHash() {
    if (handle) CryptDestroyHash(handle);
  }
};
struct Algorithm {
  BCRYPT_ALG_HANDLE handle = nullptr;
  Algorithm(const wchar_t* name, ULONG flags) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, name, nullptr, flags))) handle = nullptr;
  }
  ~Algorithm() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
};
struct SymmetricKey {
  BCRYPT_KEY_HANDLE handle = nullptr;
  ~SymmetricKey() {
    if (handle) BCryptDestroyKey(handle);
  }
};

PUCHAR Bytes(std::string_view text) { return reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())); }

class CngKeyCipher : public KeyCipher {
 public:
  std::optional<std::string> Pbkdf2HmacSha256(std::string_view passphrase, std::string_view salt, uint32_t iterations,
                                              size_t length) override {
    Algorithm hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    std::string key(length, '\0');
    if (!hmac.handle || !BCRYPT_SUCCESS(BCryptDeriveKeyPBKDF2(hmac.handle, Bytes(passphrase),
                                                              static_cast<ULONG>(passphrase.size()), Bytes(salt),
                                                              static_cast<ULONG>(salt.size()), iterations,
                                                              Bytes(key), static_cast<ULONG>(length), 0))) {
      return std::nullopt;
    }
    return key;
  }
  std::optional<std::string> Aes256Cbc(bool encrypt, std::string_view keyBytes, std::string_view iv,
                                       std::string_view data) override {
    Algorithm aes(BCRYPT_AES_ALGORITHM, 0);
    SymmetricKey key;
    if (!aes.handle || keyBytes.size() != 32 || iv.size() != 16 ||
        !BCRYPT_SUCCESS(BCryptSetProperty(aes.handle, BCRYPT_CHAINING_MODE,
                                          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                                          sizeof(BCRYPT_CHAIN_MODE_CBC), 0)) ||
        !BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(aes.handle, &key.handle, nullptr, 0, Bytes(keyBytes), 32, 0))) {
      return std::nullopt;
    }
    // The call changes the IV it is given.
    std::string chain(iv);
    std::string out(data.size() + 16, '\0');
    ULONG done = 0;
    const NTSTATUS status =
        encrypt ? BCryptEncrypt(key.handle, Bytes(data), static_cast<ULONG>(data.size()), nullptr, Bytes(chain), 16,
                                Bytes(out), static_cast<ULONG>(out.size()), &done, BCRYPT_BLOCK_PADDING)
                : BCryptDecrypt(key.handle, Bytes(data), static_cast<ULONG>(data.size()), nullptr, Bytes(chain), 16,
                                Bytes(out), static_cast<ULONG>(out.size()), &done, BCRYPT_BLOCK_PADDING);
    if (!BCRYPT_SUCCESS(status)) return std::nullopt;
    out.resize(done);
    return out;
  }
  std::optional<std::string> RandomBytes(size_t count) override {
    std::string bytes(count, '\0');
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, Bytes(bytes), static_cast<ULONG>(count),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return std::nullopt;
    }
    return bytes;
  }
};

// PRIVATEKEYBLOB: BLOBHEADER, RSAPUBKEY, then the numbers little-endian at fixed widths.
constexpr size_t kBlobHeader = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);

std::optional<std::string> PrivateKeyBlob(const RsaPrivateKey& key) {
  const size_t bits = key.Bits();
  if (bits % 16 != 0 || key.publicExponent.size() > 4) return std::nullopt;
  const size_t whole = bits / 8, half = bits / 16;
  for (const std::string* number : {&key.prime1, &key.prime2, &key.exponent1, &key.exponent2, &key.coefficient}) {
    if (number->size() > half) return std::nullopt;
  }
  BLOBHEADER header{PRIVATEKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RSA_SIGN};
  RSAPUBKEY rsa{0x32415352 /* "RSA2" */, static_cast<DWORD>(bits), 0};
  for (const char byte : key.publicExponent) rsa.pubexp = rsa.pubexp << 8 | static_cast<unsigned char>(byte);
  std::string blob(reinterpret_cast<const char*>(&header), sizeof header);
  blob.append(reinterpret_cast<const char*>(&rsa), sizeof rsa);
  blob += LittleEndian(key.modulus, whole);
  for (const std::string* number : {&key.prime1, &key.prime2, &key.exponent1, &key.exponent2, &key.coefficient}) {
    blob += LittleEndian(*number, half);
  }
  return blob + LittleEndian(key.privateExponent, whole);
}

}  // namespace

std::unique_ptr<Crypto> ToolCrypto() { return std::make_unique<win32::Win32Crypto>(); }
std::unique_ptr<KeyCipher> ToolKeyCipher() { return std::make_unique<CngKeyCipher>(); }

std::optional<RsaPrivateKey> MakeRsaKey(int bits) {
  Provider provider;
  CryptKey key;
  DWORD size = 0;
  if (!provider.handle ||
      !CryptGenKey(provider.handle, AT_SIGNATURE, static_cast<DWORD>(bits) << 16 | CRYPT_EXPORTABLE, &key.handle) ||
      !CryptExportKey(key.handle, 0, PRIVATEKEYBLOB, 0, nullptr, &size)) {
    return std::nullopt;
  }
  std::string blob(size, '\0');
  if (!CryptExportKey(key.handle, 0, PRIVATEKEYBLOB, 0, reinterpret_cast<BYTE*>(blob.data()), &size)) return std::nullopt;
  const size_t whole = static_cast<size_t>(bits) / 8, half = whole / 2;
  if (size < kBlobHeader + 2 * whole + 5 * half) return std::nullopt;
  RSAPUBKEY rsa;
  std::memcpy(&rsa, blob.data() + sizeof(BLOBHEADER), sizeof rsa);
  RsaPrivateKey made;
  std::string_view rest = std::string_view(blob).substr(kBlobHeader);
  const auto take = [&rest](size_t width) {
    std::string number = BigEndian(rest.substr(0, width));
    rest.remove_prefix(width);
    return number;
  };
  made.modulus = take(whole);
  made.prime1 = take(half);
  made.prime2 = take(half);
  made.exponent1 = take(half);
  made.exponent2 = take(half);
  made.coefficient = take(half);
  made.privateExponent = take(whole);
  for (DWORD e = rsa.pubexp; e; e >>= 8) made.publicExponent.insert(made.publicExponent.begin(), static_cast<char>(e & 0xff));
  SecureZeroMemory(blob.data(), blob.size());
  return made;
}

std::optional<std::string> SignSha256(const RsaPrivateKey& privateKey, std::string_view data) {
  auto blob = PrivateKeyBlob(privateKey);
  Provider provider;
  CryptKey key;
  CryptHash hash;
  const bool imported = blob && provider.handle &&
                        CryptImportKey(provider.handle, reinterpret_cast<const BYTE*>(blob->data()),
                                       static_cast<DWORD>(blob->size()), 0, 0, &key.handle);
  if (blob) SecureZeroMemory(blob->data(), blob->size());
  DWORD size = 0;
  if (!imported || !CryptCreateHash(provider.handle, CALG_SHA_256, 0, 0, &hash.handle) ||
      !CryptHashData(hash.handle, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) ||
      !CryptSignHashW(hash.handle, AT_SIGNATURE, nullptr, 0, nullptr, &size)) {
    return std::nullopt;
  }
  std::string signature(size, '\0');
  if (!CryptSignHashW(hash.handle, AT_SIGNATURE, nullptr, 0, reinterpret_cast<BYTE*>(signature.data()), &size)) {
    return std::nullopt;
  }
  signature.resize(size);
  std::reverse(signature.begin(), signature.end());  // CryptoAPI gives it little-endian
  return signature;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
  return text;
}

// Read wide: the ANSI environment would give the passphrase's accented letters in the code page.
std::optional<std::string> EnvironmentUtf8(const std::string& name) {
  const std::wstring wideName(name.begin(), name.end());  // variable names are ASCII
  const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) {
    return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::string>(std::string());
  }
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
  value.resize(length);
  return Utf8(value);
}

bool TerminalAvailable() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

std::optional<std::string> AskPassphrase(const std::string& prompt, bool twice) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return std::nullopt;
  const auto ask = [&](const std::string& question) -> std::optional<std::string> {
    std::cerr << question << std::flush;
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::wstring answer;
    wchar_t buffer[256];
    DWORD read = 0;
    bool ended = false;
    while (!ended && ReadConsoleW(input, buffer, 256, &read, nullptr) && read > 0) {
      for (DWORD i = 0; i < read && !ended; ++i) {
        if (buffer[i] == '\r' || buffer[i] == '\n') ended = true;
        else answer += buffer[i];
      }
    }
    SetConsoleMode(input, mode);
    SecureZeroMemory(buffer, sizeof buffer);
    std::cerr << "\n";
    if (!ended) return std::nullopt;
    std::string text = Utf8(answer);
    SecureZeroMemory(answer.data(), answer.size() * sizeof(wchar_t));
    return text;
  };
  auto first = ask(prompt);
  if (!first || !twice) return first;
  const auto second = ask("Again: " + prompt);
  if (!second || *second != *first) return std::nullopt;
  return first;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The owner, SYSTEM and the administrators only, none inherited: a private key's file.
struct OwnerOnly {
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  OwnerOnly() {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                              SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
                                                              nullptr)) {
      attributes.lpSecurityDescriptor = nullptr;
    }
  }
  ~OwnerOnly() {
    if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
  }
};

bool MakeParentDirectories(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos || slash == 0 || (slash == 2 && path[1] == ':')) return true;
  const std::string parent = path.substr(0, slash);
  const DWORD attributes = GetFileAttributesA(parent.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
    lastError = ERROR_DIRECTORY;
    return false;
  }
  if (!MakeParentDirectories(parent)) return false;
  OwnerOnly security;
  return CreateDirectoryA(parent.c_str(), security.attributes.lpSecurityDescriptor ? &security.attributes : nullptr) ||
         GetLastError() == ERROR_ALREADY_EXISTS || Fail();
}

bool WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly) {
  OwnerOnly security;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0,
                                  ownerOnly && security.attributes.lpSecurityDescriptor ? &security.attributes : nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail();
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(file);
  if (!ok) Fail();
  ok = CloseHandle(file) && ok;
  if (!ok) DeleteFileA(path.c_str());
  return ok;
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

std::string LastErrorText() {
  const DWORD code = lastError ? lastError : GetLastError();
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = text ? text : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) message.pop_back();
  return message;
}

}  // namespace varno::pack::backend
