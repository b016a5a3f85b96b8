// The system's text-to-value conversions for floats, booleans, dates and times, under the
// user's regional settings. Each accepts exactly the forms described below; where a form
// could be read two ways, the choice made is stated with it.
//
// Common rules. A blank is a space (0x20) only; a tab or a line break is an ordinary
// character and is rejected. Numbers inside dates and times are unsigned runs of decimal
// digits of any length (leading zeros allowed). Nothing may trail a value except blanks.
//
// Dates and times are OLE Automation dates: the integer part counts the days since
// 30 December 1899 and the fraction is the time of day divided by 24 hours. Before that day
// the integer part is negative and the time is still added as a positive magnitude, so that
// 29 December 1899 at 06:00 is -1.25 (not -0.75).
#pragma once

#include <optional>
#include <string_view>

#include "base/regional_settings.h"

namespace varno {

// Float: [blanks] [+|-] digits [sep digits] [(E|e) [+|-] digits] [blanks], where sep is the
// regional decimal separator only and there are digits on at least one side of it ("5." and
// ".5" are numbers, "." is not). No thousands separators, no "inf", "nan" or hexadecimal.
// The value is the correctly rounded double; a magnitude too small for a double becomes
// zero, one too large for it is not a number.
std::optional<double> ParseFloat(std::string_view text, const RegionalSettings& regional);
// Raises "'%s' n'est pas une valeur en virgule flottante correcte".
double StrToFloat(std::string_view text, const RegionalSettings& regional);

// Boolean: a text that is a float in the sense above is true when one of its digits is not
// zero (so "1e-400" is true although it is zero as a double); otherwise the whole text,
// untrimmed, must be "True" or "False" in any ASCII case.
std::optional<bool> ParseBool(std::string_view text, const RegionalSettings& regional);
// Raises "'%s' n'est pas une valeur booléenne correcte".
bool StrToBool(std::string_view text, const RegionalSettings& regional);

// Date: two or three numbers separated by the regional date separator, with blanks allowed
// before any number or separator, then optionally one more date separator, then blanks.
// The order is the first of the letters d, M and y (any case) in the short date format:
// d gives day-month-year, M month-day-year, y year-month-day (the format has no other
// effect). Two numbers are the day and the month in that order, in the current year. A
// year written with one or two digits falls in the hundred years that start fifty years
// before the current one ("24" is 2024, "73" is 2073 and "99" is 1999 during 2024); with
// three or more digits it is taken as written.
// Years 1..9999, months 1..12, days that exist in that month.
std::optional<double> ParseDate(std::string_view text, const RegionalSettings& regional, int currentYear);
// Raises "'%s' n'est pas une date correcte".
double StrToDate(std::string_view text, const RegionalSettings& regional, int currentYear);

// Time: hours [sep minutes [sep seconds [dec milliseconds]]] with the regional time
// separator sep and the regional decimal separator dec, blanks allowed before any number or
// separator. An hour alone is a time ("8" is 08:00). The digits after dec count
// milliseconds (0..999), counted as digits are read, not as a fraction: "15.5" is 15 s and 5 ms.
// "AM" or "PM" in any ASCII case may stand before the hours or after the last number,
// blanks allowed around it; hours are then 1..12 (12 AM is midnight, 12 PM noon),
// otherwise 0..23. Minutes and seconds are 0..59. A separator must be followed by its
// number: "14:30:" is not a time. The value is in [0, 1).
std::optional<double> ParseTime(std::string_view text, const RegionalSettings& regional);
// Raises "'%s' n'est pas une heure correcte".
double StrToTime(std::string_view text, const RegionalSettings& regional);

// Date and time: a date as above, optionally followed by a time as above (the date's
// trailing blanks or separator may stand between them). A text that is neither a date nor a
// date followed by a time is read as a time alone, on day 0 ("14:30" is 0.604...).
std::optional<double> ParseDateTime(std::string_view text, const RegionalSettings& regional, int currentYear);
// Raises "'%s' n'est pas une date et heure correcte".
double StrToDateTime(std::string_view text, const RegionalSettings& regional, int currentYear);

bool IsValidDate(int year, int month, int day);
// The OLE date of a valid day (see IsValidDate); throws std::invalid_argument otherwise.
double EncodeOleDate(int year, int month, int day);
// The fraction of a day for 0..23 h, 0..59 min, 0..59 s, 0..999 ms; throws
// std::invalid_argument outside those ranges.
double EncodeOleTime(int hour, int minute, int second, int millisecond);

}  // namespace varno
