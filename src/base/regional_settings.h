#pragma once

#include <string>

namespace varno {

// The separators and the order of day, month and year that the conversions of dates, times
// and numbers take from the user's regional settings.
struct RegionalSettings {
  char decimalSeparator = '.';
  char dateSeparator = '/';
  char timeSeparator = ':';
  std::string shortDateFormat = "dd/MM/yyyy";
};

}  // namespace varno
