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

}  // namespace
}  // namespace varno::fake
