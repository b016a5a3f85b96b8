#include "base/integer_text.h"

#include <gtest/gtest.h>

#include "base/update_error.h"

namespace varno {
namespace {

TEST(ParseInteger, AcceptsDecimalWithLeadingBlanksAndSign) {
  EXPECT_EQ(ParseInteger("2816080"), 2816080);
  EXPECT_EQ(ParseInteger("   42"), 42);
  EXPECT_EQ(ParseInteger("+7"), 7);
  EXPECT_EQ(ParseInteger("-1"), -1);
  EXPECT_EQ(ParseInteger("  -0"), 0);
  EXPECT_EQ(ParseInteger("007"), 7);
}

TEST(ParseInteger, AcceptsHexadecimalWithDollarOrZeroX) {
  EXPECT_EQ(ParseInteger("$1F"), 31);
  EXPECT_EQ(ParseInteger("0x1f"), 31);
  EXPECT_EQ(ParseInteger("0X10"), 16);
  EXPECT_EQ(ParseInteger(" -$10"), -16);
  EXPECT_EQ(ParseInteger("$7FFFFFFF"), 2147483647);
}

TEST(ParseInteger, RejectsEverythingElse) {
  for (const char* text : {"", " ", "+", "-", "$", "0x", "12 ", "1a", "abc", "\t5", "1.0", "1,0", "1e3", "--1",
                           "+-1", "$G", "0x1g", "5\r"}) {
    EXPECT_FALSE(ParseInteger(text).has_value()) << "'" << text << "'";
  }
}

TEST(ParseInteger, StaysInsideTheSigned32BitRange) {
  EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
  EXPECT_FALSE(ParseInteger("2147483648").has_value());
  EXPECT_FALSE(ParseInteger("-2147483649").has_value());
  EXPECT_FALSE(ParseInteger("$80000000").has_value());
  EXPECT_FALSE(ParseInteger("99999999999999999999999").has_value());
}

TEST(StrToInt, RaisesTheSystemsMessageWithTheOffendingText) {
  EXPECT_EQ(StrToInt("12"), 12);
  try {
    StrToInt("douze");
    FAIL() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_STREQ(error.what(), "'douze' n'est pas une valeur entière correcte");
  }
  try {
    StrToInt("");
    FAIL() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_STREQ(error.what(), "'' n'est pas une valeur entière correcte");
  }
}

TEST(StrToIntDef, SubstitutesTheDefault) {
  EXPECT_EQ(StrToIntDef("x", 2816080), 2816080);
  EXPECT_EQ(StrToIntDef("0", 2816080), 0);
  EXPECT_EQ(StrToIntDef("", -5), -5);
}

}  // namespace
}  // namespace varno
