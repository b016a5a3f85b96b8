#include "base/ansi_text.h"

#include <gtest/gtest.h>

namespace varno {
namespace {

TEST(AnsiComparison, FoldsAccentedLettersOfWindows1252) {
  EXPECT_TRUE(AnsiSameText("[SurFile]", "[SURFILE]"));
  EXPECT_TRUE(AnsiSameText("Répertoire", "RÉPERTOIRE"));
  EXPECT_TRUE(AnsiSameText("\x9C\x9A\x9E\xFF", "\x8C\x8A\x8E\x9F"));  // œšžÿ and ŒŠŽŸ
  EXPECT_FALSE(AnsiSameText("\xF7", "\xD7"));                          // ÷ and × are no pair
  EXPECT_FALSE(AnsiSameText("[subdir]", "[subdir] "));
  EXPECT_EQ(AnsiLowerCase("VARNOLITH_MAJ_SOLO ÀÉ"), "varnolith_maj_solo àé");
}

TEST(AsciiComparison, FoldsOnlyAToZ) {
  EXPECT_TRUE(AsciiSameText("Raccourci.LNK", "raccourci.lnk"));
  EXPECT_FALSE(AsciiSameText("é", "É"));
}

TEST(TrimBlanks, RemovesBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(TrimBlanks(" \t Images \r\n"), "Images");
  EXPECT_EQ(TrimBlanks("a b"), "a b");
  EXPECT_EQ(TrimBlanks("  "), "");
  EXPECT_EQ(TrimBlanks("\xA0x\xA0"), "\xA0x\xA0");  // a no-break space is a character
}

TEST(Paths, KeepDirectoriesWithoutTrailingBackslash) {
  EXPECT_EQ(WithoutTrailingBackslash("C:\\Pkg\\"), "C:\\Pkg");
  EXPECT_EQ(WithoutTrailingBackslash("C:\\Pkg\\\\"), "C:\\Pkg\\");  // one only
  EXPECT_EQ(WithoutTrailingBackslash("C:\\"), "C:");
  EXPECT_EQ(WithoutTrailingBackslash(""), "");
  EXPECT_EQ(JoinPath("C:\\Pkg", "MjaIni.ini"), "C:\\Pkg\\MjaIni.ini");
}

TEST(FormatText, FillsEachPlaceholderInOrder) {
  EXPECT_EQ(FormatText("'%s' n'est pas", {"abc"}), "'abc' n'est pas");
  EXPECT_EQ(FormatText("Proc %s dans \"%s\"", {"Dll", "C:\\a.ocx"}), "Proc Dll dans \"C:\\a.ocx\"");
  EXPECT_EQ(FormatText("100%% %s", {"x"}), "100%% x");
  EXPECT_EQ(FormatText("%s", {"%s"}), "%s");  // an argument is never expanded again
}

TEST(JoinTexts, PutsTheSeparatorBetweenEachTwoItems) {
  EXPECT_EQ(JoinTexts({}, ", "), "");
  EXPECT_EQ(JoinTexts({"a"}, ", "), "a");
  EXPECT_EQ(JoinTexts({"C:\\a.dll", "C:\\b.exe", "c"}, "\r"), "C:\\a.dll\rC:\\b.exe\rc");
  EXPECT_EQ(JoinTexts({"", "b", ""}, "; "), "; b; ");  // an empty item keeps its place
}

}  // namespace
}  // namespace varno
