#include "app/package_gate.h"

#include "platform/message_boxes.h"
#include "base/ansi_text.h"
#include "base/texts.h"
#include "steps/package_files.h"

namespace varno {

const char* PackageFaultText(PackageFaultKind kind) {
  switch (kind) {
    case PackageFaultKind::kSignatureMissing: return text::kFaultSignatureMissing;
    case PackageFaultKind::kSignatureMalformed: return text::kFaultSignatureMalformed;
    case PackageFaultKind::kSignatureInvalid: return text::kFaultSignatureInvalid;
    case PackageFaultKind::kFileMissing: return text::kFaultFileMissing;
    case PackageFaultKind::kFileSizeDiffers: return text::kFaultFileSizeDiffers;
    case PackageFaultKind::kFileContentDiffers: return text::kFaultFileContentDiffers;
    case PackageFaultKind::kFileUnreadable: return text::kFaultFileUnreadable;
    case PackageFaultKind::kFileNotListed: return text::kFaultFileNotListed;
  }
  return text::kFaultSignatureInvalid;
}

bool PassPackageGate(Platform& platform, const PackageTrust& trust, const std::string& packageDir, RunLog& log,
                     HeldPackage& held) {
  const auto fault = VerifyPackageForRun(platform.files, trust.crypto, trust.publicKeyPem, packageDir, held);
  if (!fault) {
    log.Log(text::kLogPackageVerified);
    return true;
  }
  log.Log(FormatText(text::kLogPackageRefused, {fault->file, PackageFaultText(fault->kind)}));
  ShowPlainMessage(platform, text::kPackageNotSigned);
  return false;
}

}  // namespace varno
