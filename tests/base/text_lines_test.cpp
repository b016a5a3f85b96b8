#include "base/text_lines.h"

#include <gtest/gtest.h>

namespace varno {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitTextLines, EndsALineAtCrLfLfOrALoneCr) {
  EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitTextLines("a\r\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitTextLines("a\n\rb"), (Lines{"a", "", "b"}));
}

TEST(SplitTextLines, ALastLineEndAddsNoEmptyLine) {
  EXPECT_EQ(SplitTextLines(""), Lines{});
  EXPECT_EQ(SplitTextLines("a\r\n"), Lines{"a"});
  EXPECT_EQ(SplitTextLines("a\r\n\r\n"), (Lines{"a", ""}));
  EXPECT_EQ(SplitTextLines("\r\n"), Lines{""});
  EXPECT_EQ(SplitTextLines("last"), Lines{"last"});
}

TEST(SplitTextLines, KeepsLinesVerbatim) {
  EXPECT_EQ(SplitTextLines("  x \t\r\n\xE9t\xE9\r\n"), (Lines{"  x \t", "\xE9t\xE9"}));
}

TEST(JoinLinesCrLf, EndsEveryLineWithCrLf) {
  EXPECT_EQ(JoinLinesCrLf({}), "");
  EXPECT_EQ(JoinLinesCrLf({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(TextLines, HandleMoreThanA16BitCountOfLines) {
  Lines many(40000, "x");
  many.back() = "last";
  const Lines back = SplitTextLines(JoinLinesCrLf(many));
  ASSERT_EQ(back.size(), 40000u);
  EXPECT_EQ(back.back(), "last");
}

}  // namespace
}  // namespace varno
