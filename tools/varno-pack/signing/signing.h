// signing/: the vendor's keys and the package's signature: key files, keys on a token, each platform's crypto.
// Signed packages, the vendor's side: the key pair, the signature file "MjaIni.sig" (its
// format is described in package/package_manifest.h) and the updater's own check of it.
// The same code and key files on both platforms; the platform gives the cryptography
// (OpenSSL on Linux, CryptoAPI and CNG on Windows, see signing_backend.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "checks/report.h"
#include "platform/files.h"
#include "signing/pkcs11_token.h"
#include "signing/private_key_der.h"

namespace varno::pack {

// Where the passphrase of a new private key comes from: the environment variable named
// (when not empty), or the terminal, asked twice (when ask is set); with neither, the key
// is written unencrypted.
struct NewKeyPassphrase {
  std::string environmentVariable;
  bool ask = false;
};

// Makes an RSA key pair of 3072 bits: the private key in PEM (PKCS#8, encrypted with
// AES-256 under a passphrase when one is given) at privateKeyFile, readable and writable by
// its owner only, and the public key (PEM SubjectPublicKeyInfo, what
// -DVARNO_PACKAGE_PUBLIC_KEY takes) at PublicKeyFileOf(privateKeyFile). The directory is
// made when missing (readable by its owner only). An existing file at either path is never
// replaced. A passphrase that cannot be had (the variable unset or empty, no terminal, two
// answers that differ) is refused before anything is made. Host paths.
bool GenerateKeyPair(const std::string& privateKeyFile, Report& report, const NewKeyPassphrase& passphrase = {});

// "KEY.pem" gives "KEY.pub.pem", any other name "NAME.pub.pem".
std::string PublicKeyFileOf(const std::string& privateKeyFile);

// The vendor's private key, read and opened once: a key protected by a passphrase asks
// for it once, on the terminal, or takes it from the environment variable named by
// passphraseEnv when that is not empty. Nothing, with the reason in report, for a file
// that cannot be read, a public key, a passphrase that does not open it, an encrypted key
// with neither the variable nor a terminal to ask on (said before anything else is read),
// or anything but an RSA private key in PEM, or a key of fewer than 2048 bits.
struct SigningKey {
  RsaPrivateKey key;                    // in memory only; or
  std::shared_ptr<Pkcs11Token> token;   // the key that never leaves its token
};
std::optional<SigningKey> LoadSigningKey(const std::string& keyFile, const std::string& passphraseEnv, Report& report);

// A key on a token: the module's path, the key's label (CKA_LABEL) and where the PIN comes
// from (the variable named, otherwise the terminal; refused without either).
struct TokenKey {
  std::string module, label, pinEnv;
};
// The token's key, logged in; nothing with the reason (the PIN refused, no such label, a
// key of fewer than 2048 bits, a module that cannot be loaded).
std::optional<SigningKey> LoadTokenKey(const TokenKey& token, Report& report);
// Makes the pair on the token (the private key never extractable) and writes only its
// public key, to PublicKeyFileOf(keyFile). A label the token holds already is refused.
bool GenerateTokenKeyPair(const std::string& keyFile, const TokenKey& token, Report& report);

// Writes packageDir's "MjaIni.sig" (replacing it as a whole): every file the updater reads
// there, with its size and SHA-256, signed with the private key at keyFile (a host path).
// packageDir is a Windows path of files. False, with the reason in report, when the
// package has no description or a file or the key cannot be read; MjaIni.sig is then
// left as it was; also when the description names in "[insubdir]" an archive that is not
// there. The hook of "build --sign".
bool SignPackage(FileSystem& files, const std::string& packageDir, const std::string& keyFile, Report& report,
                 const std::string& passphraseEnv = "");
bool SignPackage(FileSystem& files, const std::string& packageDir, const SigningKey& key, Report& report);

// The signature file over exactly these files of packageDir (paths relative to it), with
// the key, whatever the description says: SignPackage once it knows which files to sign.
bool SignFiles(FileSystem& files, const std::string& packageDir, const std::vector<std::string>& names,
               const SigningKey& key, Report& report);

// The updater's own check of packageDir with the public key at publicKeyFile (a host
// path): true when the updater built with that key would apply the package. A file that is
// no PEM public key (a private key, anything else) is said to be so; a key of fewer than
// 2048 bits is refused, as the updater's build refuses it.
// uncovered, when given, receives the files of packageDir that the signature does not
// cover because no run reads them (the updater program among them, which Authenticode signs).
bool VerifyPackage(FileSystem& files, const std::string& packageDir, const std::string& publicKeyFile,
                   Report& report, std::vector<std::string>* uncovered = nullptr);

}  // namespace varno::pack
