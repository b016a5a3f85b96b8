#include "base/windows_path.h"

#include <gtest/gtest.h>

namespace varno {
namespace {

struct FullPathRow {
  const char* currentDirectory;
  const char* path;
  const char* expected;  // "" when the path has no full path
};

// What GetFullPathNameA gives, but for the trailing separator, which goes unless it is a
// drive root's.
const FullPathRow kFullPaths[] = {
    {"C:\\Dir", "sub", "C:\\Dir\\sub"},
    {"C:\\Dir\\", "sub", "C:\\Dir\\sub"},
    {"C:\\", "sub", "C:\\sub"},
    {"C:\\Dir", ".\\a\\.\\b\\", "C:\\Dir\\a\\b"},
    {"C:\\Dir", "a//b\\\\\\c", "C:\\Dir\\a\\b\\c"},
    {"C:\\Dir", "sub\\..\\..\\..\\x", "C:\\x"},
    {"C:\\Dir", "..", "C:\\"},
    {"C:\\Dir", "...", "C:\\Dir\\..."},
    {"C:\\Dir", "c:\\x/y\\", "C:\\x\\y"},
    {"C:\\Dir", "C:\\", "C:\\"},
    {"C:\\Dir", "C:/..", "C:\\"},
    // A drive without a separator is the current directory when it is the current drive
    // (its letter in either case), and that drive's root otherwise.
    {"C:\\Dir", "C:", "C:\\Dir"},
    {"C:\\Dir", "c:Sub", "C:\\Dir\\Sub"},
    {"C:\\Dir", "C:*.txt", "C:\\Dir\\*.txt"},
    {"C:\\Dir", "C:..\\x", "C:\\x"},
    {"C:\\Dir", "D:Sub", "D:\\Sub"},
    {"C:\\Dir", "d:", "D:\\"},
    {"c:\\dir", "\\Root\\x", "C:\\Root\\x"},
    {"C:\\Dir", "/", "C:\\"},
    {"D:\\Data\\In", "\\..\\Root", "D:\\Root"},
    // A share is a root that ".." does not climb above.
    {"C:\\Dir", "\\\\server\\share\\a\\..\\..\\b", "\\\\server\\share\\b"},
    {"C:\\Dir", "//server/share/", "\\\\server\\share"},
    {"\\\\srv\\share\\dir", "x", "\\\\srv\\share\\dir\\x"},
    {"\\\\srv\\share\\dir", "\\Root", "\\\\srv\\share\\Root"},
    {"\\\\srv\\share\\dir", "..\\..", "\\\\srv\\share"},
    {"\\\\srv\\share\\dir", "C:x", "C:\\x"},
    {"C:\\Dir", "", ""},
    {"", "sub", ""},
};

TEST(WindowsPath, FullPathResolvesEveryFormInTheCurrentDirectory) {
  for (const FullPathRow& row : kFullPaths) {
    EXPECT_EQ(FullPath(row.path, row.currentDirectory), row.expected)
        << "path \"" << row.path << "\" in \"" << row.currentDirectory << "\"";
  }
}

struct SplitRow {
  const char* path;
  const char* parent;
  const char* lastComponent;
  const char* directoryPart;
};

const SplitRow kSplits[] = {
    {"C:\\a\\b", "C:\\a", "b", "C:\\a\\"},
    {"C:\\a", "C:\\", "a", "C:\\"},
    {"C:\\", "", "", "C:\\"},
    {"C:\\Dir\\", "C:\\Dir", "", "C:\\Dir\\"},
    {"C:", "", "", "C:"},
    {"C:run.exe", "C:", "run.exe", "C:"},
    {"a\\b", "a", "b", "a\\"},
    {"a/b", "a", "b", "a/"},
    {"a\\\\b", "a", "b", "a\\\\"},
    {"a", "", "a", ""},
    {"\\a", "\\", "a", "\\"},
    {"\\\\srv\\share", "", "", "\\\\srv\\share"},
    {"\\\\srv\\share\\a", "\\\\srv\\share", "a", "\\\\srv\\share\\"},
    {"", "", "", ""},
};

TEST(WindowsPath, ParentAndLastComponentSplitAfterTheLastSeparatorOutsideTheRoot) {
  for (const SplitRow& row : kSplits) {
    EXPECT_EQ(ParentOf(row.path), row.parent) << "parent of \"" << row.path << "\"";
    EXPECT_EQ(LastComponent(row.path), row.lastComponent) << "last component of \"" << row.path << "\"";
    EXPECT_EQ(DirectoryPart(row.path), row.directoryPart) << "directory part of \"" << row.path << "\"";
  }
}

}  // namespace
}  // namespace varno
