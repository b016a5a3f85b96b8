// The check of a signed package: the vendor's signature over the package's signature file,
// then every file it lists, read through handles that stay open and refuse writers, so
// that what was checked is what the run goes on to read.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "platform/files.h"

namespace varno {

struct HeldFile;

enum class PackageFaultKind {
  kSignatureMissing,     // no signature file
  kSignatureMalformed,   // a signature file that departs from its format
  kSignatureInvalid,     // not signed by the key, or the signed part was changed
  kFileMissing,          // a listed file is not there, or cannot be opened
  kFileSizeDiffers,      // a listed file has another size
  kFileContentDiffers,   // a listed file has other bytes
  kFileUnreadable,       // a listed file could not be read or digested to its end
  kFileNotListed,        // a file the run reads is not in the list
};

struct PackageFault {
  PackageFaultKind kind;
  std::string file;  // relative to the package directory
};

// The package's listed files, held open against writers for as long as this lives (or a
// reader opened from it).
class HeldPackage {
 public:
  // Whether the signed list names the file (without regard to case).
  bool Lists(std::string_view name) const;
  size_t HeldFiles() const { return held_.size(); }

  // A reader of the held file of that name (without regard to case), with a position of
  // its own, reading the bytes that were checked whatever happened to the name since;
  // nothing when the signed list does not name it.
  std::unique_ptr<InputFile> Open(std::string_view name) const;

 private:
  friend std::optional<PackageFault> VerifySignedPackage(FileSystem&, Crypto&, std::string_view,
                                                         const std::string&, HeldPackage&);
  std::map<std::string, std::shared_ptr<HeldFile>> held_;  // by upper-case name
};

// Reads the signature file of packageDir, checks its signature with the vendor's public key
// (PEM), then holds each listed file against writers and checks its size and SHA-256 from
// the held handle. The first fault found, or nothing when the package is the vendor's; on a
// fault, what was held is released.
std::optional<PackageFault> VerifySignedPackage(FileSystem& files, Crypto& crypto, std::string_view publicKeyPem,
                                                const std::string& packageDir, HeldPackage& held);

// The SHA-256 of a file read to its end: nothing on a read error or a short read.
std::optional<std::string> DigestFile(InputFile& file, Crypto& crypto);

}  // namespace varno
