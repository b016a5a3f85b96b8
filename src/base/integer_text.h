// The system's text-to-integer conversions. An integer is written in decimal, optionally
// preceded by blanks and by "+" or "-"; a hexadecimal form with a "$" or "0x" prefix is
// accepted as well. Anything else (trailing characters, an empty text, a value outside the
// signed 32-bit range) is not an integer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varno {

std::optional<int32_t> ParseInteger(std::string_view text);

// Strict: a text that is not an integer raises "'%s' n'est pas une valeur entière correcte".
int32_t StrToInt(std::string_view text);

// Lenient: a text that is not an integer gives the default.
int32_t StrToIntDef(std::string_view text, int32_t fallback);

}  // namespace varno
