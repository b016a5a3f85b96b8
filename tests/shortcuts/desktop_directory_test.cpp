#include "shortcuts/desktop_directory.h"

#include <gtest/gtest.h>

#include "support/memory_machine.h"

namespace varno {
namespace {

TEST(UserDesktopPath, NeverEndsWithABackslash) {
  fake::MemoryFileSystem files;
  fake::MemoryShell shell{files};
  for (const auto& [given, expected] : std::vector<std::pair<std::string, std::string>>{
           {"C:\\Users\\Pierre\\Desktop", "C:\\Users\\Pierre\\Desktop"},
           {"C:\\Users\\Pierre\\Desktop\\", "C:\\Users\\Pierre\\Desktop"},
           {"C:\\", "C:"},
           {"", ""}}) {
    shell.folders[kCsidlDesktop] = given;
    EXPECT_EQ(UserDesktopPath(shell), expected) << given;
  }
}

TEST(UserDesktopPath, IsEmptyWhenTheShellHasNoDesktop) {
  fake::MemoryFileSystem files;
  fake::MemoryShell shell{files};
  EXPECT_EQ(UserDesktopPath(shell), "");
  shell.folders[0x0019] = "C:\\Users\\Public\\Desktop";  // the common desktop is another folder
  EXPECT_EQ(UserDesktopPath(shell), "");
  EXPECT_EQ(SpecialFolderPath(shell, 0x0019), "C:\\Users\\Public\\Desktop");
}

}  // namespace
}  // namespace varno
