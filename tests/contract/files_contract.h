// What every FileSystem backend must do, as one parameterised suite: the in-memory machine
// and the Win32 backend under Wine both run it, so they cannot drift apart.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/files.h"

namespace varno::fake {

// A backend together with the few powers a test needs beyond the interface.
class FilesUnderTest {
 public:
  virtual ~FilesUnderTest() = default;
  virtual FileSystem& Files() = 0;
  // An existing, empty directory for this test, as a full path without trailing "\".
  virtual std::string Scratch() = 0;
  virtual std::vector<std::string> List(const std::string& directory) = 0;
  virtual void SetReadOnly(const std::string& path, bool readOnly) = 0;
  virtual void SetInUse(const std::string& path, bool inUse) = 0;
  virtual void ChangeCurrentDirectory(const std::string& path) = 0;
  // Puts a link to target at path (a junction, a symbolic link to a directory); false where
  // the backend cannot show one (Wine shows no junction).
  virtual bool MakeDirectoryLink(const std::string&, const std::string&) { return false; }
  // Whether a held directory refuses its own removal (Linux has no sharing that refuses it).
  virtual bool HoldRefusesRemoval() { return true; }
  // Whether a protected file shows the owner it was made with. Wine shows every file as
  // its one user's, which is the program's own account: no owner that counts.
  virtual bool ShowsOwners() { return true; }
};

using FilesFactory = std::function<std::unique_ptr<FilesUnderTest>()>;

class FilesContract : public ::testing::TestWithParam<FilesFactory> {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string In(const std::string& name) const { return scratch_ + "\\" + name; }
  std::string Read(const std::string& name);

  std::unique_ptr<FilesUnderTest> backend_;
  FileSystem* files_ = nullptr;
  std::string scratch_;
};

}  // namespace varno::fake
