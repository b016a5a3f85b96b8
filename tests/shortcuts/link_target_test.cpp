// Reading a shortcut's target from its bytes: the golden files that Wine's link object
// wrote through the project's Win32 code, the in-memory shell's files beside them, and
// hand-made files for what Wine never writes (a relative path, odd drive bytes).
#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "base/ansi_text.h"
#include "shortcuts/golden_links.h"
#include "shortcuts/shell_link.h"
#include "support/shell_link_bytes.h"

namespace varno {
namespace {

using fake::kGoldenLinks;
using fake::LinkLayout;
using fake::LinkStrings;
using fake::ShellLinkBytes;

std::string Golden(const std::string& file) {
  std::ifstream in(std::string(VARNO_GOLDEN_DIR) + "/" + file, std::ios::binary);
  if (!in) ADD_FAILURE() << "no golden file " << file << " in " << VARNO_GOLDEN_DIR;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Sixteen bytes a line with their offset, so that a failed comparison points at the place.
std::string Dump(std::string_view bytes) {
  std::string out;
  char cell[8];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) {
      std::snprintf(cell, sizeof(cell), "\n%04zx:", i);
      out += cell;
    }
    std::snprintf(cell, sizeof(cell), " %02x", static_cast<unsigned char>(bytes[i]));
    out += cell;
  }
  return out;
}

std::string Utf16String(std::string_view text, bool countsItsZero) {
  const std::u16string wide = fake::WideFromAnsi(text);
  std::string out;
  const size_t count = wide.size() + (countsItsZero ? 1 : 0);
  out += static_cast<char>(count & 0xFF);
  out += static_cast<char>(count >> 8);
  for (char16_t unit : wide) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  if (countsItsZero) out.append(2, '\0');
  return out;
}

TEST(GoldenLinks, ReadBackAsTheirTargets) {
  for (const auto& golden : kGoldenLinks) {
    EXPECT_EQ(LinkTargetFromBytes(Golden(golden.file)), golden.readTarget) << golden.file;
  }
}

TEST(GoldenLinks, HoldTheDriveThePathAndTheStringsWhereTheReadersLook) {
  for (const auto& golden : kGoldenLinks) {
    SCOPED_TRACE(golden.file);
    const std::string bytes = Golden(golden.file);
    ASSERT_GT(bytes.size(), fake::kLinkDriveLetterOffset);
    EXPECT_EQ(bytes[fake::kLinkDriveLetterOffset], AsciiUpper(golden.target[0]));
    fake::LinkParts parts;
    ASSERT_TRUE(fake::FindLinkParts(bytes, &parts));
    const std::string path = std::string(golden.target) + '\0';
    EXPECT_EQ(bytes.substr(parts.localPath, path.size()), path);
    // The working directory comes first among the strings, then the arguments.
    const std::string strings = Utf16String(golden.workingDirectory, true) +
                                (*golden.arguments ? Utf16String(golden.arguments, true) : "");
    EXPECT_EQ(bytes.substr(parts.strings, strings.size()), strings);
  }
}

TEST(GoldenLinks, AreWhatTheInMemoryShellWritesButForDatesAndSerialNumber) {
  for (const auto& golden : kGoldenLinks) {
    const std::string made = ShellLinkBytes({golden.target, golden.arguments, golden.workingDirectory});
    EXPECT_EQ(Dump(made), Dump(fake::WithoutVolatileFields(Golden(golden.file)))) << golden.file;
  }
}

// Bytes of a link to the path, with the byte at offset 101 replaced.
std::string WithDriveByte(const std::string& target, char drive) {
  std::string bytes = ShellLinkBytes({target, "", ""});
  bytes[fake::kLinkDriveLetterOffset] = drive;
  return bytes;
}

TEST(LinkTargetFromBytes, TakesOnlyALetterFromAToLowerZAsTheDrive) {
  EXPECT_EQ(LinkTargetFromBytes(WithDriveByte("A:\\x.exe", 'A')), "A:\\x.exe");
  EXPECT_EQ(LinkTargetFromBytes(WithDriveByte("z:\\x.exe", 'z')), "z:\\x.exe");
  EXPECT_EQ(LinkTargetFromBytes(WithDriveByte("_:\\x.exe", '_')), "_:\\x.exe") << "between Z and a";
  EXPECT_EQ(LinkTargetFromBytes(WithDriveByte("0:\\x.exe", '0')), "");
  EXPECT_EQ(LinkTargetFromBytes(WithDriveByte("@:\\x.exe", '@')), "");
  EXPECT_EQ(LinkTargetFromBytes(WithDriveByte("{:\\x.exe", '{')), "");
  EXPECT_EQ(LinkTargetFromBytes(WithDriveByte("C:\\x.exe", '\0')), "");
  // The letter is compared exactly: a drive item in capitals never meets a path in lower case.
  EXPECT_EQ(LinkTargetFromBytes(WithDriveByte("C:\\x.exe", 'c')), "");
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes({"C:\\x.exe", "", ""}).substr(0, 101)), "") << "no byte 101";
}

TEST(LinkTargetFromBytes, TakesAPathOfAtMost255Characters) {
  const std::string longest = "C:\\" + std::string(246, 'd') + "\\a.exe";
  ASSERT_EQ(longest.size(), 255u);
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes({longest, "", ""})), longest);
  const std::string tooLong = "C:\\" + std::string(247, 'd') + "\\a.exe";
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes({tooLong, "", ""})), "");
}

TEST(LinkTargetFromBytes, RebuildsTheTargetFromTheRelativePathOfAWindowsLink) {
  LinkLayout layout{"C:\\App\\run.exe", "", "C:\\App\\", "..\\..\\..\\App\\run.exe", false, LinkStrings::Windows};
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes(layout)), "C:\\App\\run.exe") << "no 8-bit path at all";

  // A bare drive root in the link information falls through to the relative path.
  layout.target = "C:\\";
  layout.linkInformation = true;
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes(layout)), "C:\\App\\run.exe");

  // Only the low byte of each UTF-16 character is kept.
  layout.relativePath = "..\\..\\..\\Données\\prêt€.exe";
  layout.workingDirectory = "C:\\Données\\";
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes(layout)), "C:\\Données\\prêt\xAC.exe");
}

TEST(LinkTargetFromBytes, FindsNoTargetWhenTheRelativePathDoesNotFitItsPattern) {
  LinkLayout layout{"C:\\", "", "C:\\App\\", "..\\..\\App\\run.exe", true, LinkStrings::Windows};
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes(layout)), "") << "two levels up only";
  layout.relativePath = "..\\..\\..\\App\\run.exe";
  layout.workingDirectory = "D:\\App\\";
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes(layout)), "") << "the next string on another drive";
  layout.workingDirectory = "C:\\App\\";
  layout.relativePath = "..\\..\\..\\" + std::string(230, 'p') + "\\run.exe";
  EXPECT_EQ(LinkTargetFromBytes(ShellLinkBytes(layout)), "") << "the next string beyond the 455 bytes read";
  EXPECT_EQ(LinkTargetFallback(ShellLinkBytes({"C:\\x.exe", "", "C:\\"}), 'C'), "") << "Wine writes no relative path";
}

}  // namespace
}  // namespace varno
