#include "contract/files_contract.h"
#include "base/windows_path.h"
#include "support/memory_files.h"

namespace varno::fake {
namespace {

class MemoryFilesUnderTest : public FilesUnderTest {
 public:
  MemoryFilesUnderTest() { files_.AddDirectory("C:\\Scratch"); }
  FileSystem& Files() override { return files_; }
  std::string Scratch() override { return "C:\\Scratch"; }
  std::vector<std::string> List(const std::string& directory) override { return files_.List(directory); }
  void SetReadOnly(const std::string& path, bool readOnly) override { files_.SetReadOnly(path, readOnly); }
  void SetInUse(const std::string& path, bool inUse) override { files_.SetInUse(path, inUse); }
  void ChangeCurrentDirectory(const std::string& path) override { files_.SetCurrentDirectory(path); }
  bool MakeDirectoryLink(const std::string& path, const std::string& target) override {
    files_.AddDirectory(path);
    files_.LetStandardUsersChange(ParentOf(path));
    return files_.SwapForJunction(path, target);
  }

 private:
  MemoryFileSystem files_;
};

INSTANTIATE_TEST_SUITE_P(InMemory, FilesContract,
                         ::testing::Values(FilesFactory([] { return std::make_unique<MemoryFilesUnderTest>(); })));

}  // namespace
}  // namespace varno::fake
