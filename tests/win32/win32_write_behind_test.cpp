// Writing behind on a thread of its own: what the thread meets must reach the caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_write_behind.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

// Several blocks, so that the thread writes some while the caller fills the next.
const std::string kBytes(3u << 20 | 12345, 'v');

TEST(Win32WriteBehindTest, AWriteFailingOnTheThreadFailsTheFinish) {
  ScratchDirectory scratch;
  WriteBytes(scratch.In("file.bin"), "");
  // Opened for reading only: every WriteFile through it fails, on whichever thread.
  win32::UniqueHandle file(CreateFileA(scratch.In("file.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.Valid());
  win32::WriteBehind writer(file.Get());
  for (size_t at = 0; at < kBytes.size(); at += 1u << 20) {
    writer.Write(kBytes.data() + at, std::min<size_t>(1u << 20, kBytes.size() - at));
  }
  EXPECT_FALSE(writer.Write("x", 1));
  EXPECT_FALSE(writer.Finish());
}

// Dropped while its thread may still write, a large replacement leaves neither its
// temporary file nor a change to the file it was to replace.
TEST(Win32WriteBehindTest, AnAbandonedLargeReplacementLeavesNothingBehind) {
  ScratchDirectory scratch;
  win32::Win32FileSystem files;
  ASSERT_TRUE(files.ReplaceWholeFile(scratch.In("target.bin"), "old"));
  {
    auto replacement = files.CreateReplacement(scratch.In("target.bin"));
    ASSERT_TRUE(replacement);
    ASSERT_TRUE(replacement->Write(kBytes.data(), kBytes.size()));
  }
  EXPECT_EQ(ReadBytes(scratch.In("target.bin")), "old");
  EXPECT_EQ(ListDirectory(scratch.Path()), std::vector<std::string>{"target.bin"});
}

}  // namespace
}  // namespace varno::fake
