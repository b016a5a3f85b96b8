// The file service of a run whose package passed the vendor's check: from the gate on,
// a file of the package directory is read only through what the gate holds, never by its
// name again. A file the gate did not hold does not exist for the run, whatever appears at
// its name later; a held file gives the bytes that were checked, whatever became of its
// name (replaced, or the directory moved and another put in its place).
#pragma once

#include <string>

#include "package/package_signature.h"
#include "platform/forwarding_files.h"

namespace varno {

class HeldPackageFiles : public ForwardingFiles {
 public:
  // Until Seal, every call passes through (a program built without a key never seals).
  explicit HeldPackageFiles(FileSystem& inner) : ForwardingFiles(inner) {}

  // From now on, a path inside packageDir (a full path; relative paths resolve in it, as
  // it is the current directory) is read from held only. Writes and directories still
  // pass through.
  void Seal(const std::string& packageDir, HeldPackage held);

  // The file service below, for what is no package file.
  FileSystem& Inner() { return inner_; }

  bool FileExists(const std::string& path) override;
  std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<InputFile> OpenHeldAgainstWriters(const std::string& path) override;
  // Copies from the package read through the held file too.
  bool CopyFileTo(const std::string& from, const std::string& to) override;

 private:
  // The path's name relative to the package directory when it lies inside it.
  std::optional<std::string> NameInPackage(const std::string& path) const;

  bool sealed_ = false;
  std::string prefix_;  // the package directory's full path in capitals, "\" at its end
  HeldPackage held_;
};

}  // namespace varno
