// What signing needs of the platform the tool runs on: OpenSSL and POSIX files on Linux,
// CryptoAPI, CNG and Win32 files on Windows. The key files, the signature file and the
// checks are the same code on both (signing.cpp, private_key_der.cpp).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto.h"
#include "signing/private_key_der.h"

namespace varno::pack::backend {

// The updater's own digest and signature check on this platform.
std::unique_ptr<Crypto> ToolCrypto();
std::unique_ptr<KeyCipher> ToolKeyCipher();

// A new RSA key of this many bits (public exponent 65537); nothing when the platform fails.
std::optional<RsaPrivateKey> MakeRsaKey(int bits);
// RSASSA-PKCS1-v1_5 over SHA-256 of data: deterministic, so the same on both platforms.
std::optional<std::string> SignSha256(const RsaPrivateKey& key, std::string_view data);

// The environment variable's value as UTF-8 (a passphrase's bytes are its UTF-8 on both
// platforms, so that a key made on one opens on the other); nothing when it is not set.
std::optional<std::string> EnvironmentUtf8(const std::string& name);

// Whether there is a terminal to ask a passphrase on.
bool TerminalAvailable();
// The passphrase typed after prompt, without echo, as UTF-8; asked twice when twice is set, and
// nothing when the answers differ or nothing could be read.
std::optional<std::string> AskPassphrase(const std::string& prompt, bool twice);

// Host paths, as the user gave them.
bool PathExists(const std::string& path);
// Makes the missing directories of path, readable by their owner only.
bool MakeParentDirectories(const std::string& path);
// Creates the file, never over an existing one, readable by its owner only when
// ownerOnly is set, and removes it again when the bytes do not all reach it.
bool WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly);
void RemoveFile(const std::string& path);
// The reason of the last failed call above, for a person.
std::string LastErrorText();

}  // namespace varno::pack::backend
