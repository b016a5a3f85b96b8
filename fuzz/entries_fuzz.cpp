// One line of "[insubdir]", "[desk]", "[programs]" or "[reg]", through the entry parsers and
// then every conversion a "[reg]" value can meet, under regional settings the input picks.
// Beyond memory errors it checks the conversions' ranges (a date is a whole day of years
// 1..9999, a time lies in [0, 1), numbers are finite), that the raising forms raise exactly
// when the quiet ones give nothing, and that the entry fields come out trimmed.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "base/ansi_text.h"
#include "base/integer_text.h"
#include "base/update_error.h"
#include "base/value_conversions.h"
#include "fuzz_check.h"
#include "shortcuts/shell_link.h"
#include "shortcuts/shortcut_steps.h"
#include "steps/file_steps.h"
#include "steps/registry_step.h"

namespace {

using varno::RegionalSettings;
using varno::RegValueType;

// Settings seen on real machines: French, German, ISO with a "." time separator (Finnish
// style, equal to nothing else), United States, and one whose date and time separators are
// equal to the decimal separator.
const RegionalSettings kRegional[] = {
    {',', '/', ':', "dd/MM/yyyy"}, {',', '.', ':', "dd.MM.yyyy"}, {',', '-', '.', "yyyy-MM-dd"},
    {'.', '/', ':', "M/d/yyyy"},   {'.', '.', '.', "d.M.yy"},
};

// The first day of year 1 and the last of year 9999, as OLE dates.
constexpr double kFirstDay = -693593;
constexpr double kLastDay = 2958465;

bool Trimmed(const std::string& text) { return varno::TrimBlanks(text) == text; }

template <typename Quiet, typename Raising>
void CheckRaises(bool check, const Quiet& quiet, const Raising& raising) {
  if (!check) return;
  const auto value = quiet();
  try {
    const auto raised = raising();
    FUZZ_CHECK(value.has_value() && *value == raised);
  } catch (const varno::UpdateError&) {
    FUZZ_CHECK(!value.has_value());
  }
}

// The raising forms cost an exception each time they reject; they are compared with the
// quiet ones on the line itself only, which keeps the target fast enough for long runs.
void Convert(const std::string& text, const RegionalSettings& regional, int year, bool raising) {
  CheckRaises(raising, [&] { return varno::ParseInteger(text); }, [&] { return varno::StrToInt(text); });
  if (const auto integer = varno::ParseInteger(text)) {
    FUZZ_CHECK(varno::ParseInteger(std::to_string(*integer)) == *integer);
  }
  const auto number = varno::ParseFloat(text, regional);
  if (number) FUZZ_CHECK(std::isfinite(*number));
  CheckRaises(raising, [&] { return number; }, [&] { return varno::StrToFloat(text, regional); });
  CheckRaises(raising, [&] { return varno::ParseBool(text, regional); }, [&] { return varno::StrToBool(text, regional); });

  const auto date = varno::ParseDate(text, regional, year);
  if (date) FUZZ_CHECK(*date == std::floor(*date) && *date >= kFirstDay && *date <= kLastDay);
  CheckRaises(raising, [&] { return date; }, [&] { return varno::StrToDate(text, regional, year); });
  const auto time = varno::ParseTime(text, regional);
  if (time) FUZZ_CHECK(*time >= 0 && *time < 1);
  CheckRaises(raising, [&] { return time; }, [&] { return varno::StrToTime(text, regional); });
  const auto dateTime = varno::ParseDateTime(text, regional, year);
  if (dateTime) FUZZ_CHECK(std::isfinite(*dateTime) && *dateTime > kFirstDay - 1 && *dateTime < kLastDay + 1);
  CheckRaises(raising, [&] { return dateTime; }, [&] { return varno::StrToDateTime(text, regional, year); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  RegionalSettings regional = input.PickValueInArray(kRegional);
  if (input.ConsumeBool()) {
    // Separators of the user's own choosing: any byte but the digits, which no locale uses.
    for (char* separator : {&regional.decimalSeparator, &regional.dateSeparator, &regional.timeSeparator}) {
      const char chosen = input.ConsumeIntegral<char>();
      if (chosen < '0' || chosen > '9') *separator = chosen;
    }
  }
  const int year = input.ConsumeIntegralInRange(1601, 9999);
  const std::string line = input.ConsumeRemainingBytesAsString();

  if (const auto subDir = varno::SplitSubDirArchive(line)) {
    FUZZ_CHECK(line.find(':') != std::string::npos);
    FUZZ_CHECK(Trimmed(subDir->subDirectory) && Trimmed(subDir->archiveName));
  }
  const varno::LinkEntry desk = varno::ParseDeskEntry(line);
  FUZZ_CHECK(Trimmed(desk.target) && Trimmed(desk.name));
  const varno::LinkEntry programs = varno::ParseProgramsEntry(line);
  FUZZ_CHECK(Trimmed(programs.target) && Trimmed(programs.name) && Trimmed(programs.group));
  for (const std::string& name : {desk.name, programs.name, programs.group}) {
    if (varno::StaysInFolder(name)) FUZZ_CHECK(name.find(':') == std::string::npos);
  }
  (void)varno::DesktopLinkName(desk.target, desk.name);
  (void)varno::ProgramsLinkName(programs.target, programs.name);

  const varno::RegEntry entry = varno::ParseRegEntry(line);
  FUZZ_CHECK(Trimmed(entry.name) && Trimmed(entry.typeWord) && Trimmed(entry.value));
  (void)varno::RegTypeFromName(entry.typeWord);
  Convert(line, regional, year, true);
  for (const RegValueType kind : {RegValueType::Float, RegValueType::Time, RegValueType::Date}) {
    Convert(varno::PrepareValueText(kind, entry.value, regional), regional, year, false);
  }
  return 0;
}
