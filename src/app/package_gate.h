// The gate of a program built with its vendor's key: only a package the vendor signed is
// applied.
#pragma once

#include <string>

#include "app/run_log.h"
#include "package/package_signature.h"
#include "platform/crypto.h"
#include "platform/platform.h"

namespace varno {

// The key the program was built with, and the system service that checks signatures.
struct PackageTrust {
  Crypto& crypto;
  std::string publicKeyPem;
};

// Checks the package before anything else of it is read. True when the run may go on, the
// package's files then held in held; false after logging the file at fault and showing
// the refusal box, nothing else done.
bool PassPackageGate(Platform& platform, const PackageTrust& trust, const std::string& packageDir, RunLog& log,
                     HeldPackage& held);

// The run log's words for a fault.
const char* PackageFaultText(PackageFaultKind kind);

}  // namespace varno
