// The file-service contract, run against the real Win32 backend.
#include <atomic>
#include <map>

#include "contract/files_contract.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

class Win32FilesUnderTest : public FilesUnderTest {
 public:
  ~Win32FilesUnderTest() override {
    for (auto& [path, handle] : open_) CloseHandle(handle);
    SetCurrentDirectoryA(previousDirectory_.c_str());
  }
  FileSystem& Files() override { return files_; }
  std::string Scratch() override { return scratch_.Path(); }
  std::vector<std::string> List(const std::string& directory) override { return ListDirectory(directory); }
  void SetReadOnly(const std::string& path, bool readOnly) override {
    SetFileAttributesA(path.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
  }
  void SetInUse(const std::string& path, bool inUse) override {
    if (inUse) {
      // Open with no sharing at all, as a program that holds the file would.
      open_[path] = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    } else if (auto it = open_.find(path); it != open_.end()) {
      CloseHandle(it->second);
      open_.erase(it);
    }
  }
  void ChangeCurrentDirectory(const std::string& path) override { SetCurrentDirectoryA(path.c_str()); }
  // Under Wine every file is its one user's, the program's own account.
  bool ShowsOwners() override { return false; }

 private:
  std::string previousDirectory_ = CurrentDirectoryPath();
  ScratchDirectory scratch_;
  win32::Win32FileSystem files_;
  std::map<std::string, HANDLE> open_;
};

INSTANTIATE_TEST_SUITE_P(Win32, FilesContract,
                         ::testing::Values(FilesFactory([] { return std::make_unique<Win32FilesUnderTest>(); })));

// A rename needs the directory opened for deletion, which the hold's sharing refuses: the
// name a run holds keeps leading to the directory it checked.
TEST(Win32HeldDirectory, CannotBeRenamedWhileHeld) {
  ScratchDirectory scratch;
  win32::Win32FileSystem files;
  const std::string held = scratch.Path() + "\\held", moved = scratch.Path() + "\\moved";
  ASSERT_TRUE(files.MakeDirectory(held));
  HeldDirectoryOpen open = files.HoldDirectory(held);
  ASSERT_EQ(open.status, DirectoryHold::Held);
  EXPECT_FALSE(MoveFileA(held.c_str(), moved.c_str()));
  EXPECT_TRUE(files.DirectoryExists(held));
  open.held.reset();
  EXPECT_TRUE(MoveFileA(held.c_str(), moved.c_str())) << GetLastError();
  EXPECT_TRUE(files.RemoveEmptyDirectory(moved));
}

// What a junction put on the way would do, shown as Wine can show it: the held directory's
// parent renamed away (Windows refuses that while something below it is open; Wine does
// not) and another directory made at the old path. A change named by that path then lands
// in the directory that was held, where a second look-up of the path would have led into
// the new one.
TEST(Win32HeldDirectory, WhatIsNamedBelowItIsReachedThroughItsHandle) {
  ScratchDirectory scratch;
  win32::Win32FileSystem files;
  const std::string parent = scratch.Path() + "\\P", held = parent + "\\H";
  ASSERT_TRUE(files.MakeDirectory(parent));
  HeldDirectoryOpen open = files.MakeHeldDirectory(held);
  ASSERT_EQ(open.status, DirectoryHold::Held);
  ASSERT_TRUE(files.ReplaceWholeFile(held + "\\kept", "kept"));
  if (!MoveFileA(parent.c_str(), (scratch.Path() + "\\Q").c_str())) {
    GTEST_SKIP() << "the parent of a held directory cannot be renamed here, as on Windows (" << GetLastError() << ")";
  }
  ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(held.c_str(), nullptr));
  const std::string moved = scratch.Path() + "\\Q\\H";

  // The file a replacement writes is made in the held directory. Wine then renames and
  // deletes by the Unix names it noted when files were opened, not through the handles, so
  // the commit fails here without reaching the new directory; Windows renames through the
  // handle, into the held directory.
  {
    auto replacement = files.CreateReplacement(held + "\\new");
    ASSERT_TRUE(replacement && replacement->Write("new", 3));
    EXPECT_EQ(ListDirectory(moved).size(), 2u);
    replacement->Commit();
  }
  EXPECT_EQ(ListDirectory(held), std::vector<std::string>{});
  auto log = files.OpenForAppending(held + "\\log");
  ASSERT_TRUE(log && log->Append("line"));
  log.reset();
  EXPECT_EQ(files.ReadWholeFile(moved + "\\log"), "line");
  ASSERT_TRUE(files.MakeDirectory(held + "\\made"));
  EXPECT_TRUE(files.DirectoryExists(moved + "\\made"));
  EXPECT_EQ(ListDirectory(held), std::vector<std::string>{});
  open.held.reset();
}

}  // namespace
}  // namespace varno::fake
