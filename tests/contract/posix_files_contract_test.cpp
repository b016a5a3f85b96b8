// The file-service contract, run against the Linux-disk backend of the host tools.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "contract/files_contract.h"
#include "platform/posix/posix_files.h"

namespace varno::fake {
namespace {

// A fresh root with a C: drive holding C:\Scratch, removed afterwards.
class PosixRoot {
 public:
  PosixRoot() {
    char pattern[] = "/tmp/varno-posix-XXXXXX";
    path_ = ::mkdtemp(pattern);
    std::filesystem::create_directories(path_ + "/C/Scratch");
  }
  ~PosixRoot() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class PosixFilesUnderTest : public FilesUnderTest {
 public:
  ~PosixFilesUnderTest() override {
    for (auto& [path, fd] : held_) ::close(fd);
  }
  FileSystem& Files() override { return files_; }
  std::string Scratch() override { return "C:\\Scratch"; }
  std::vector<std::string> List(const std::string& directory) override {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(files_.HostPath(directory))) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  void SetReadOnly(const std::string& path, bool readOnly) override {
    ::chmod(files_.HostPath(path).c_str(), readOnly ? 0444 : 0644);
  }
  void SetInUse(const std::string& path, bool inUse) override {
    if (inUse) {
      // Held as another program would hold it: an exclusive lock on an open descriptor.
      const int fd = ::open(files_.HostPath(path).c_str(), O_RDONLY);
      ::flock(fd, LOCK_EX);
      held_[path] = fd;
    } else if (auto it = held_.find(path); it != held_.end()) {
      ::close(it->second);
      held_.erase(it);
    }
  }
  void ChangeCurrentDirectory(const std::string& path) override { files_.SetCurrentDirectory(path); }
  bool MakeDirectoryLink(const std::string& path, const std::string& target) override {
    return ::symlink(files_.HostPath(target).c_str(), files_.HostPath(path).c_str()) == 0;
  }
  bool HoldRefusesRemoval() override { return false; }

 private:
  PosixRoot root_;
  posix::PosixFileSystem files_{root_.Path()};
  std::map<std::string, int> held_;
};

INSTANTIATE_TEST_SUITE_P(Posix, FilesContract,
                         ::testing::Values(FilesFactory([] { return std::make_unique<PosixFilesUnderTest>(); })));

TEST(PosixFileSystem, MapsWindowsPathsBelowTheRootMatchingNamesWithoutRegardToCase) {
  PosixRoot root;
  std::filesystem::create_directories(root.Path() + "/C/Program Files/TolMerik");
  posix::PosixFileSystem files(root.Path());
  EXPECT_EQ(files.HostPath("c:\\PROGRAM FILES\\tolmerik\\New\\a.dll"),
            root.Path() + "/C/Program Files/TolMerik/New/a.dll");
  EXPECT_EQ(files.HostPath("C:/Program Files/x/../TolMerik/./a"), root.Path() + "/C/Program Files/TolMerik/a");
  files.SetCurrentDirectory("C:\\Program Files");
  EXPECT_EQ(files.HostPath("tolmerik"), root.Path() + "/C/Program Files/TolMerik");
  EXPECT_EQ(files.HostPath("\\x"), root.Path() + "/C/x");
  EXPECT_EQ(files.HostPath("D:Sub"), root.Path() + "/D/Sub");  // D's root: C holds the current directory
  EXPECT_EQ(files.HostPath("\\\\server\\share\\x"), "");
  EXPECT_FALSE(files.DirectoryExists("D:\\"));
}

}  // namespace
}  // namespace varno::fake
