#include "base/value_conversions.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/update_error.h"

namespace varno {
namespace {

RegionalSettings Settings(char decimal, char date = '/', char time = ':', std::string format = "dd/MM/yyyy") {
  return RegionalSettings{decimal, date, time, std::move(format)};
}
const RegionalSettings kFrench = Settings(',');
const RegionalSettings kDot = Settings('.');

void ExpectRaises(const std::function<void()>& convert, const char* message) {
  try {
    convert();
    ADD_FAILURE() << "no error raised, expected: " << message;
  } catch (const UpdateError& error) {
    EXPECT_STREQ(error.what(), message);
  }
}

TEST(ParseFloat, TakesOnlyTheRegionalDecimalSeparator) {
  for (const auto& [regional, separator] : {std::pair{kFrench, ","}, std::pair{kDot, "."}}) {
    const auto with = [&](std::string text) { return text.replace(text.find('#'), 1, separator); };
    EXPECT_EQ(ParseFloat(with("0#5"), regional), 0.5) << separator;
    EXPECT_EQ(ParseFloat(with("  -1#25e2 "), regional), -125.0) << separator;
    EXPECT_EQ(ParseFloat(with("5#"), regional), 5.0) << separator;
    EXPECT_EQ(ParseFloat(with("+#5E-1"), regional), 0.05) << separator;
  }
  EXPECT_FALSE(ParseFloat("0.5", kFrench));
  EXPECT_FALSE(ParseFloat("0,5", kDot));
}

TEST(ParseFloat, RejectsAnythingButAPlainDecimalNumber) {
  for (const char* text : {"", " ", "+", "-", ".", "1.2.3", "1e", "1e+", "1e5.0", "inf", "nan", "INF", "0x10",
                           "1 000", "1,000", "- 1", "++1", "\t1", "1\t", "1e400", "-1e400"}) {
    EXPECT_FALSE(ParseFloat(text, kDot)) << "'" << text << "'";
  }
}

TEST(ParseFloat, RoundsCorrectlyAndLetsTinyValuesBecomeZero) {
  EXPECT_EQ(ParseFloat("9007199254740993", kDot), 9007199254740992.0);  // the tie goes to even
  EXPECT_EQ(ParseFloat("2.4703282292062328e-324", kDot), 5e-324);
  EXPECT_EQ(ParseFloat("1" + std::string(400, '0') + "e-400", kDot), 1.0);
  EXPECT_EQ(ParseFloat("0." + std::string(400, '0') + "1e400", kDot), 0.1);
  EXPECT_EQ(ParseFloat("1e-400", kDot), 0.0);
  EXPECT_EQ(ParseFloat("0." + std::string(400, '0') + "1e50", kDot), 0.0);
  EXPECT_FALSE(ParseFloat("1" + std::string(400, '0') + "e-50", kDot));
  EXPECT_TRUE(std::signbit(*ParseFloat("-1e-400", kDot)));
  EXPECT_EQ(ParseFloat("0e999999999999", kDot), 0.0);
}

TEST(ParseFloat, ReadsBackEveryShortestFormattedDoubleBitForBit) {
  std::mt19937_64 random(20240105);
  std::uniform_real_distribution<double> ordinary(-1e6, 1e6);  // these print without exponent
  for (int i = 0; i < 20000; ++i) {
    const double value = i % 2 ? std::bit_cast<double>(random()) : ordinary(random);
    if (!std::isfinite(value)) continue;
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    for (const RegionalSettings& regional : {kFrench, kDot}) {
      std::string text(buffer, end);
      if (const auto point = text.find('.'); point != std::string::npos) text[point] = regional.decimalSeparator;
      const auto parsed = ParseFloat(text, regional);
      ASSERT_TRUE(parsed) << text;
      ASSERT_EQ(std::bit_cast<uint64_t>(*parsed), std::bit_cast<uint64_t>(value)) << text;
    }
  }
}

TEST(ParseBool, TakesNumbersThenTheWholeWordsTrueAndFalse) {
  EXPECT_EQ(ParseBool("0", kFrench), false);
  EXPECT_EQ(ParseBool(" -0,000 ", kFrench), false);
  EXPECT_EQ(ParseBool("0,5", kFrench), true);
  EXPECT_EQ(ParseBool("-2", kFrench), true);
  EXPECT_EQ(ParseBool("1e-400", kFrench), true);
  EXPECT_EQ(ParseBool("1e400", kFrench), true);
  EXPECT_EQ(ParseBool("tRUE", kFrench), true);
  EXPECT_EQ(ParseBool("FALSE", kFrench), false);
  for (const char* text : {"", " True", "True ", "Vrai", "Yes", "0.5", "T"}) {
    EXPECT_FALSE(ParseBool(text, kFrench)) << "'" << text << "'";
  }
}

TEST(EncodeOleDate, CountsDaysFromTheThirtiethOfDecember1899) {
  EXPECT_EQ(EncodeOleDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeOleDate(1899, 12, 29), -1);
  EXPECT_EQ(EncodeOleDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeOleDate(2000, 2, 29), 36585);
  EXPECT_EQ(EncodeOleDate(2024, 1, 1), 45292);
  EXPECT_EQ(EncodeOleDate(1, 1, 1), -693593);
  EXPECT_EQ(EncodeOleDate(9999, 12, 31), 2958465);
  EXPECT_THROW(EncodeOleDate(1900, 2, 29), std::invalid_argument);
}

TEST(ParseDate, FollowsTheOrderOfTheShortDateFormat) {
  const double february5 = EncodeOleDate(2024, 2, 5);
  const RegionalSettings dmy = Settings(',', '/', ':', "dd/MM/yyyy");
  const RegionalSettings mdy = Settings('.', '/', ':', "M/d/yyyy");
  const RegionalSettings ymd = Settings(',', '-', ':', "yyyy-MM-dd");
  EXPECT_EQ(ParseDate("05/02/2024", dmy, 2024), february5);
  EXPECT_EQ(ParseDate("2/5/2024", mdy, 2024), february5);
  EXPECT_EQ(ParseDate("2024-02-05", ymd, 2024), february5);
  // Without a year: the other two in their order, in the current year.
  EXPECT_EQ(ParseDate("5/2", dmy, 2024), february5);
  EXPECT_EQ(ParseDate("2/5", mdy, 2024), february5);
  EXPECT_EQ(ParseDate("2-5", ymd, 2024), february5);
  EXPECT_EQ(ParseDate("24-2-5", ymd, 2024), february5);
}

TEST(ParseDate, PutsShortYearsInTheHundredYearsFromFiftyYearsAgo) {
  EXPECT_EQ(ParseDate("5/2/99", kFrench, 2024), EncodeOleDate(1999, 2, 5));
  EXPECT_EQ(ParseDate("5/2/24", kFrench, 2024), EncodeOleDate(2024, 2, 5));
  EXPECT_EQ(ParseDate("5/2/73", kFrench, 2024), EncodeOleDate(2073, 2, 5));
  EXPECT_EQ(ParseDate("5/2/74", kFrench, 2024), EncodeOleDate(1974, 2, 5));
  EXPECT_EQ(ParseDate("5/2/0", kFrench, 1987), EncodeOleDate(2000, 2, 5));
  EXPECT_EQ(ParseDate("5/2/37", kFrench, 1987), EncodeOleDate(1937, 2, 5));
  EXPECT_EQ(ParseDate("5/2/024", kFrench, 2024), EncodeOleDate(24, 2, 5));
}

TEST(ParseDate, AllowsBlanksAndOneClosingSeparatorOnly) {
  EXPECT_EQ(ParseDate(" 5 / 2 /2024 ", kFrench, 2024), EncodeOleDate(2024, 2, 5));
  EXPECT_EQ(ParseDate("5/2/2024/", kFrench, 2024), EncodeOleDate(2024, 2, 5));
  EXPECT_EQ(ParseDate("29/2/2024", kFrench, 2024), EncodeOleDate(2024, 2, 29));
  for (const char* text : {"", "5", "5/", "5/2/", "5/2/2024//", "5/2/2024x", "5/2/2024 10:00", "5.2.2024",
                           "\t5/2/2024", "5/-2/2024", "29/2/2023", "31/4/2024", "0/1/2024", "1/13/2024",
                           "1/1/0000", "1/1/10000", "1/1/99999999999999999999"}) {
    EXPECT_FALSE(ParseDate(text, kFrench, 2024)) << "'" << text << "'";
  }
}

TEST(ParseTime, ReadsHoursMinutesSecondsUnderEitherSeparator) {
  EXPECT_EQ(ParseTime("8:30", kFrench), 8.5 / 24);
  EXPECT_EQ(ParseTime("8.30", Settings(',', '/', '.')), 8.5 / 24);
  EXPECT_EQ(ParseTime("8", kFrench), 8.0 / 24);
  EXPECT_EQ(ParseTime(" 14 : 30:15 ", kFrench), EncodeOleTime(14, 30, 15, 0));
  EXPECT_EQ(ParseTime("14:30:15,250", kFrench), EncodeOleTime(14, 30, 15, 250));
  EXPECT_EQ(ParseTime("14:30:15.5", kDot), EncodeOleTime(14, 30, 15, 5));
  EXPECT_EQ(ParseTime("0:00", kFrench), 0.0);
}

TEST(ParseTime, TakesAmAndPmBeforeOrAfter) {
  EXPECT_EQ(ParseTime("12 AM", kFrench), 0.0);
  EXPECT_EQ(ParseTime("12:30pm", kFrench), 12.5 / 24);
  EXPECT_EQ(ParseTime("pM 1:15", kFrench), 13.25 / 24);
  EXPECT_EQ(ParseTime("11:59:59 PM ", kFrench), EncodeOleTime(23, 59, 59, 0));
}

TEST(ParseTime, RejectsOutOfRangeAndUnfinishedTimes) {
  for (const char* text : {"", "AM", "24:00", "8:60", "8:00:60", "8:00:00,1000", "0 AM", "13 PM", "14:", "14:30:",
                           "14:30:15:", ":30", "8:30 PMX", "8:30 AM PM", "8h30", "-1:00", "8:30:15.5"}) {
    EXPECT_FALSE(ParseTime(text, kFrench)) << "'" << text << "'";
  }
}

TEST(ParseDateTime, AddsTheTimeAwayFromDayZero) {
  EXPECT_EQ(ParseDateTime("05/02/2024 14:30", kFrench, 2024), 45327 + 14.5 / 24);
  EXPECT_EQ(ParseDateTime("05/02/2024", kFrench, 2024), 45327);
  EXPECT_EQ(ParseDateTime("5/2 14:30", kFrench, 2024), 45327 + 14.5 / 24);
  EXPECT_EQ(ParseDateTime("14:30", kFrench, 2024), 14.5 / 24);
  EXPECT_EQ(ParseDateTime("30/12/1899 06:00", kFrench, 2024), 0.25);
  EXPECT_EQ(ParseDateTime("29/12/1899 06:00", kFrench, 2024), -1.25);
  EXPECT_EQ(ParseDateTime("28/12/1899 18:00", kFrench, 2024), -2.75);
  for (const char* text : {"", "05/02/2024 25:00", "05/02/2024 x", "05/02/2024 14:30 x", "31/02/2024 14:30"}) {
    EXPECT_FALSE(ParseDateTime(text, kFrench, 2024)) << "'" << text << "'";
  }
}

TEST(Conversions, RaiseTheSystemsMessageWithTheOffendingText) {
  EXPECT_EQ(StrToFloat("0,5", kFrench), 0.5);
  ExpectRaises([] { StrToFloat("0.5", kFrench); }, "'0.5' n'est pas une valeur en virgule flottante correcte");
  ExpectRaises([] { StrToBool("oui", kFrench); }, "'oui' n'est pas une valeur booléenne correcte");
  ExpectRaises([] { StrToDate("31/02/2024", kFrench, 2024); }, "'31/02/2024' n'est pas une date correcte");
  ExpectRaises([] { StrToTime("", kFrench); }, "'' n'est pas une heure correcte");
  ExpectRaises([] { StrToDateTime("05/02/2024 8:", kFrench, 2024); },
               "'05/02/2024 8:' n'est pas une date et heure correcte");
}

}  // namespace
}  // namespace varno
