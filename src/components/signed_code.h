// The product code an updater built with the vendor's key loads as administrator: the control
// it registers and the database library it calls. Either the run wrote those bytes itself from
// the signed package, or the installed file can have been written by administrators alone;
// the file is checked and then used through one handle that refuses writers.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/forwarding_files.h"

namespace varno {

// A file of code checked for running, held against writers while this lives.
struct HeldCode {
  std::string path;
  std::unique_ptr<InputFile> file;  // at its start
};

// Watches what the run writes at the paths of its code, from the package it verified, and
// keeps the SHA-256 of each file it committed there. Any other change at such a path (a
// move, a removal, a copy by name) forgets it.
class SignedCodeWatch : public ForwardingFiles {
 public:
  SignedCodeWatch(FileSystem& inner, const std::vector<std::string>& codePaths);

  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override;
  bool MoveFileTo(const std::string& from, const std::string& to) override;
  bool MoveFileReplacing(const std::string& from, const std::string& to) override;
  bool CopyFileTo(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;

  // The hexadecimal SHA-256 of what the run last committed at the path, if it did.
  std::optional<std::string> WrittenDigest(const std::string& path) const;

  // Opens the code at path to be run. Nothing when no file is there. A file the run wrote
  // must still have the bytes it wrote; any other must be one only administrators can have
  // written. Otherwise raises, naming the file, and nothing of it is loaded.
  std::optional<HeldCode> HoldToRun(const std::string& path);

 private:
  friend class WrittenCodeOutput;
  std::optional<std::string> KeyOf(const std::string& path) const;
  void Forget(const std::string& path);

  std::map<std::string, std::optional<std::string>> digests_;  // by upper-case full path
};

}  // namespace varno
