// Signed packages, the vendor's side: the key pair, the signature file "MjaIni.sig" (its
// format is described in package/package_manifest.h) and the updater's own check of it.
// OpenSSL on the host; the Windows build of the tool leaves these commands out.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"
#include "report.h"

namespace varno::pack {

// Makes an RSA key pair of 3072 bits: the private key in PEM (PKCS#8) at privateKeyFile,
// readable and writable by its owner only, and the public key (PEM SubjectPublicKeyInfo,
// what -DVARNO_PACKAGE_PUBLIC_KEY takes) at PublicKeyFileOf(privateKeyFile). An existing
// file at either path is never replaced. Host paths.
bool GenerateKeyPair(const std::string& privateKeyFile, Report& report);

// "KEY.pem" gives "KEY.pub.pem", any other name "NAME.pub.pem".
std::string PublicKeyFileOf(const std::string& privateKeyFile);

// Writes packageDir's "MjaIni.sig" (replacing it as a whole): every file the updater reads
// there, with its size and SHA-256, signed with the private key at keyFile (a host path).
// packageDir is a Windows path of files. False, with the reason in report, when the
// package has no description or a file or the key cannot be read; MjaIni.sig is then
// left as it was; also when the description names in "[insubdir]" an archive that is not
// there, or the key has fewer than 2048 bits. The hook of "build --sign".
bool SignPackage(FileSystem& files, const std::string& packageDir, const std::string& keyFile, Report& report);

// The signature file over exactly these files of packageDir (paths relative to it), with
// the private key at keyFile, whatever the description says: SignPackage once it knows
// which files to sign.
bool SignFiles(FileSystem& files, const std::string& packageDir, const std::vector<std::string>& names,
               const std::string& keyFile, Report& report);

// The updater's own check of packageDir with the public key at publicKeyFile (a host
// path): true when the updater built with that key would apply the package. A key of
// fewer than 2048 bits is refused, as the updater's build refuses it.
bool VerifyPackage(FileSystem& files, const std::string& packageDir, const std::string& publicKeyFile,
                   Report& report);

}  // namespace varno::pack
