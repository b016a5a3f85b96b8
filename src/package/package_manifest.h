// The signature file of an update package, "MjaIni.sig": which files the vendor built, and
// the vendor's signature over that list.
//
// Format, version 1. Text, ASCII apart from the names (Windows-1252), every line ended by a
// single LF, nothing before the first line or after the last:
//
//   VARNO-PACKAGE-SIGNATURE 1
//   file <size> <sha256> <name>
//   ...
//   signature rsa-pkcs1-sha256 <signature>
//
// - The first line names the format and its version; a reader refuses any other version.
// - One "file" line per file, in any order, at least one: <size> in bytes, decimal without
//   leading zeros; <sha256>, the SHA-256 of the file's bytes, 64 lower-case hexadecimal
//   digits; <name>, the rest of the line, the file's path relative to the package
//   directory, "\" between levels. A name is 1 to 254 bytes, holds no control character
//   and none of / : * ? " < > |, no level of it is empty, "." or "..", and no level starts
//   or ends with a blank. Names compare without regard to case (Windows-1252 folding); no
//   two lines name the same file.
// - The last line: the RSA signature (PKCS#1 v1.5, SHA-256), in lower-case hexadecimal,
//   most significant byte first, of every byte of the file before that line (the first
//   line and the "file" lines, their LFs included).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varno {

inline constexpr char kSignatureFileName[] = "MjaIni.sig";

struct ManifestEntry {
  std::string name;
  uint64_t size = 0;
  std::string sha256;  // the 32 bytes of the digest
};

struct SignatureFile {
  std::vector<ManifestEntry> files;
  std::string signedPart;  // the bytes the signature covers
  std::string signature;   // the signature's bytes, most significant first
};

// Whether a name may stand in a "file" line (see above).
bool IsManifestName(std::string_view name);

// The signed part of a signature file for these files, in the order given. The names must
// be manifest names.
std::string FormatManifest(const std::vector<ManifestEntry>& files);

// The whole signature file: the signed part and the signature line.
std::string FormatSignatureFile(std::string_view signedPart, std::string_view signature);

// Reads a signature file; nothing when it departs from the format in any way.
std::optional<SignatureFile> ParseSignatureFile(std::string_view bytes);

// Lower-case hexadecimal of bytes, and back (nothing for anything but pairs of lower-case
// hexadecimal digits).
std::string ToHex(std::string_view bytes);
std::optional<std::string> FromHex(std::string_view hex);

}  // namespace varno
