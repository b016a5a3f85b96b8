#include "base/value_conversions.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/update_error.h"

namespace varno {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

template <typename T>
T ValueOrRaise(std::optional<T> value, const char* pattern, std::string_view text) {
  if (value) return *value;
  throw UpdateError(FormatText(pattern, {text}));
}

// ---------------------------------------------------------------------------------------
// Floats

struct FloatScan {
  std::string normalised;  // '.' as the separator and no '+', as std::from_chars wants it
  bool nonzero = false;    // a digit of the mantissa is not zero
  long long order = 0;     // a nonzero value lies in [10^(order-1), 10^order)
};

// The decimal magnitude of a nonzero mantissa, before its exponent.
long long MantissaOrder(std::string_view integerDigits, std::string_view fractionDigits) {
  const size_t first = integerDigits.find_first_not_of('0');
  if (first != std::string_view::npos) return static_cast<long long>(integerDigits.size() - first);
  return -static_cast<long long>(fractionDigits.find_first_not_of('0'));
}

// Checks the grammar itself rather than trusting from_chars, which would also take "inf",
// "nan" and a '.' that is not the regional separator.
std::optional<FloatScan> ScanFloat(std::string_view text, char decimalSeparator) {
  size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < text.size() && text[i] == ' ') ++i;
  };
  const auto readDigits = [&] {
    const size_t start = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    return text.substr(start, i - start);
  };

  FloatScan scan;
  skipBlanks();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') scan.normalised += '-';
    ++i;
  }
  const std::string_view integerDigits = readDigits();
  std::string_view fractionDigits;
  if (i < text.size() && text[i] == decimalSeparator) {
    ++i;
    fractionDigits = readDigits();
  }
  if (integerDigits.empty() && fractionDigits.empty()) return std::nullopt;
  scan.normalised += integerDigits.empty() ? "0" : integerDigits;
  if (!fractionDigits.empty()) (scan.normalised += '.') += fractionDigits;
  scan.nonzero = integerDigits.find_first_not_of('0') != std::string_view::npos ||
                 fractionDigits.find_first_not_of('0') != std::string_view::npos;
  if (scan.nonzero) scan.order = MantissaOrder(integerDigits, fractionDigits);

  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::string_view exponentDigits = readDigits();
    if (exponentDigits.empty()) return std::nullopt;
    (scan.normalised += negative ? "e-" : "e") += exponentDigits;
    // Saturated: only its sign and rough size matter once it is this far out of range.
    long long exponent = 0;
    for (char digit : exponentDigits) exponent = std::min(exponent * 10 + (digit - '0'), 1'000'000'000LL);
    scan.order += negative ? -exponent : exponent;
  }
  skipBlanks();
  if (i != text.size()) return std::nullopt;
  return scan;
}

// ---------------------------------------------------------------------------------------
// Dates and times

// A cursor with the scanning steps of the date and time conversions: each step skips the
// blanks before what it looks for, and leaves them skipped even when it fails.
class Scanner {
 public:
  struct Number {
    int value;
    size_t digits;
  };

  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return position_ == text_.size(); }

  void SkipBlanks() {
    while (position_ < text_.size() && text_[position_] == ' ') ++position_;
  }

  bool ReadChar(char c) {
    SkipBlanks();
    if (position_ == text_.size() || text_[position_] != c) return false;
    ++position_;
    return true;
  }

  // The value saturates far above any valid component, so a long run cannot overflow.
  std::optional<Number> ReadNumber() {
    SkipBlanks();
    Number number{0, 0};
    for (; position_ < text_.size() && IsDigit(text_[position_]); ++position_, ++number.digits) {
      number.value = std::min(number.value * 10 + (text_[position_] - '0'), 1'000'000);
    }
    if (number.digits == 0) return std::nullopt;
    return number;
  }

  // "AM" or "PM" in any ASCII case: the hour they add to 0..11.
  std::optional<int> ReadMeridiem() {
    SkipBlanks();
    const std::string_view rest = text_.substr(position_, 2);
    for (const auto& [word, baseHour] : {std::pair{"AM", 0}, std::pair{"PM", 12}}) {
      if (AsciiSameText(rest, word)) {
        position_ += 2;
        return baseHour;
      }
    }
    return std::nullopt;
  }

 private:
  std::string_view text_;
  size_t position_ = 0;
};

enum class DateOrder { kDayMonthYear, kMonthDayYear, kYearMonthDay };

// Only the first letter of the format counts, so the three orders that Windows locales use
// are the only ones.
DateOrder ShortDateOrder(std::string_view shortDateFormat) {
  for (char c : shortDateFormat) {
    switch (AsciiUpper(c)) {
      case 'D': return DateOrder::kDayMonthYear;
      case 'M': return DateOrder::kMonthDayYear;
      case 'Y': return DateOrder::kYearMonthDay;
      default: break;
    }
  }
  return DateOrder::kMonthDayYear;
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidTime(int hour, int minute, int second, int millisecond) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         millisecond >= 0 && millisecond < 1000;
}

std::optional<double> ScanDate(Scanner& scanner, const RegionalSettings& regional, int currentYear) {
  const char separator = regional.dateSeparator;
  const auto first = scanner.ReadNumber();
  if (!first || !scanner.ReadChar(separator)) return std::nullopt;
  const auto second = scanner.ReadNumber();
  if (!second) return std::nullopt;

  const DateOrder order = ShortDateOrder(regional.shortDateFormat);
  int year = currentYear;
  int month = 0;
  int day = 0;
  if (scanner.ReadChar(separator)) {
    const auto third = scanner.ReadNumber();
    if (!third) return std::nullopt;
    Scanner::Number yearNumber{};
    switch (order) {
      case DateOrder::kDayMonthYear:
        day = first->value;
        month = second->value;
        yearNumber = *third;
        break;
      case DateOrder::kMonthDayYear:
        month = first->value;
        day = second->value;
        yearNumber = *third;
        break;
      case DateOrder::kYearMonthDay:
        yearNumber = *first;
        month = second->value;
        day = third->value;
        break;
    }
    year = yearNumber.value;
    if (yearNumber.digits <= 2) {
      // A two-digit year falls in the hundred years that start fifty years before the
      // current one.
      const int windowStart = currentYear - 50;
      year += windowStart / 100 * 100;
      if (year < windowStart) year += 100;
    }
    scanner.ReadChar(separator);  // a date may end with its separator
  } else if (order == DateOrder::kDayMonthYear) {
    day = first->value;
    month = second->value;
  } else {  // without a year, year-month-day reads month then day
    month = first->value;
    day = second->value;
  }
  scanner.SkipBlanks();
  if (!IsValidDate(year, month, day)) return std::nullopt;
  return EncodeOleDate(year, month, day);
}

std::optional<double> ScanTime(Scanner& scanner, const RegionalSettings& regional) {
  std::optional<int> baseHour = scanner.ReadMeridiem();
  const auto hours = scanner.ReadNumber();
  if (!hours) return std::nullopt;
  int hour = hours->value;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  if (scanner.ReadChar(regional.timeSeparator)) {
    const auto minutes = scanner.ReadNumber();
    if (!minutes) return std::nullopt;
    minute = minutes->value;
    if (scanner.ReadChar(regional.timeSeparator)) {
      const auto seconds = scanner.ReadNumber();
      if (!seconds) return std::nullopt;
      second = seconds->value;
      if (scanner.ReadChar(regional.decimalSeparator)) {
        const auto milliseconds = scanner.ReadNumber();
        if (!milliseconds) return std::nullopt;
        millisecond = milliseconds->value;
      }
    }
  }
  if (!baseHour) baseHour = scanner.ReadMeridiem();
  if (baseHour) {
    if (hour == 0 || hour > 12) return std::nullopt;
    hour = hour % 12 + *baseHour;
  }
  scanner.SkipBlanks();
  if (!IsValidTime(hour, minute, second, millisecond)) return std::nullopt;
  return EncodeOleTime(hour, minute, second, millisecond);
}

}  // namespace

std::optional<double> ParseFloat(std::string_view text, const RegionalSettings& regional) {
  const auto scan = ScanFloat(text, regional.decimalSeparator);
  if (!scan) return std::nullopt;
  const std::string& digits = scan->normalised;
  double value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error == std::errc::result_out_of_range) {
    // from_chars reports underflow and overflow alike; only overflow makes it no number.
    if (scan->order > 0) return std::nullopt;
    return digits.front() == '-' ? -0.0 : 0.0;
  }
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

double StrToFloat(std::string_view text, const RegionalSettings& regional) {
  return ValueOrRaise(ParseFloat(text, regional), text::kNotAFloat, text);
}

std::optional<bool> ParseBool(std::string_view text, const RegionalSettings& regional) {
  if (const auto scan = ScanFloat(text, regional.decimalSeparator)) return scan->nonzero;
  if (AsciiSameText(text, "True")) return true;
  if (AsciiSameText(text, "False")) return false;
  return std::nullopt;
}

bool StrToBool(std::string_view text, const RegionalSettings& regional) {
  return ValueOrRaise(ParseBool(text, regional), text::kNotABoolean, text);
}

std::optional<double> ParseDate(std::string_view text, const RegionalSettings& regional, int currentYear) {
  Scanner scanner(text);
  const auto date = ScanDate(scanner, regional, currentYear);
  if (!date || !scanner.AtEnd()) return std::nullopt;
  return date;
}

double StrToDate(std::string_view text, const RegionalSettings& regional, int currentYear) {
  return ValueOrRaise(ParseDate(text, regional, currentYear), text::kNotADate, text);
}

std::optional<double> ParseTime(std::string_view text, const RegionalSettings& regional) {
  Scanner scanner(text);
  const auto time = ScanTime(scanner, regional);
  if (!time || !scanner.AtEnd()) return std::nullopt;
  return time;
}

double StrToTime(std::string_view text, const RegionalSettings& regional) {
  return ValueOrRaise(ParseTime(text, regional), text::kNotATime, text);
}

std::optional<double> ParseDateTime(std::string_view text, const RegionalSettings& regional, int currentYear) {
  Scanner scanner(text);
  if (const auto date = ScanDate(scanner, regional, currentYear)) {
    if (scanner.AtEnd()) return date;
    const auto time = ScanTime(scanner, regional);
    // Before day 0 the time still moves away from zero (OLE dates keep the time positive).
    if (time && scanner.AtEnd()) return *date >= 0 ? *date + *time : *date - *time;
  }
  return ParseTime(text, regional);
}

double StrToDateTime(std::string_view text, const RegionalSettings& regional, int currentYear) {
  return ValueOrRaise(ParseDateTime(text, regional, currentYear), text::kNotADateTime, text);
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

double EncodeOleDate(int year, int month, int day) {
  if (!IsValidDate(year, month, day)) throw std::invalid_argument("EncodeOleDate: no such day");
  const long long before = year - 1;
  long long days = before * 365 + before / 4 - before / 100 + before / 400 + day;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  // 693594 days run from 1 January of year 1 to 30 December 1899, day 0.
  return static_cast<double>(days - 693594);
}

double EncodeOleTime(int hour, int minute, int second, int millisecond) {
  if (!IsValidTime(hour, minute, second, millisecond)) throw std::invalid_argument("EncodeOleTime: no such time");
  const int total = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
  return total / 86'400'000.0;
}

}  // namespace varno
