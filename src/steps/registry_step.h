// The registry value step: the typed values of "[reg]" written into the product's key, the
// names of those it creates recorded under "[SurValReg]".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/run_state.h"
#include "platform/platform.h"
#include "steps/uninstall_record.h"

namespace varno {

enum class RegValueType : uint8_t { None = 0, String, Integer, Bool, Float, Date, DateTime, Time };

// The first test of an entry's type word: a substring of the list of type names without
// regard to ASCII case, so a partial or mis-cased word ("int", "String") passes, as it always
// has; an empty one does not.
bool IsKnownTypeWord(std::string_view typeWord);

// "string" compared exactly, then "integer", "bool", "float", "date", "datetime" and "time"
// without regard to ASCII case; the first that matches, or None.
RegValueType RegTypeFromName(std::string_view typeWord);

// One "[reg]" line, "Port: integer; 8080": the name before the first ":", the type word
// before the first ";" of what follows, the value after it, each trimmed. The character
// after the ":" and the one after the ";" are dropped whatever they are, so a line written
// without its blanks loses the first character of its type word and of its value.
struct RegEntry {
  std::string name;
  std::string typeWord;
  std::string value;
};
RegEntry ParseRegEntry(std::string_view line);

// The character substitutions made before a float, time or date is converted: the first "."
// (else the first ",") becomes the decimal separator; ":", "h", "m" and "@" become the time
// separator and "s" goes; "/", ":", "-" and "@" become the date separator.
std::string PrepareValueText(RegValueType kind, std::string value, const RegionalSettings& regional);

// The 8 bytes of a double as the registry stores them (little-endian IEEE 754).
std::string DoubleBytes(double value);

// True when the description has a "[reg]" line followed by at least one line. A value that
// a conversion rejects, or a write that the registry refuses, raises.
bool MjaVarnoReg(Platform& platform, const RunState& state, WriteLogList& record);

}  // namespace varno
