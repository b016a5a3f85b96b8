// The tool's strings are Windows-1252, as the updater's are; the Linux terminal, the Linux
// command line and JSON speak UTF-8. These two conversions sit at that border only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varno::pack {

// Every Windows-1252 byte has a character, so this cannot fail. The five bytes that the
// code page leaves unassigned become the C1 controls of the same value, as Windows maps them.
std::string Cp1252ToUtf8(std::string_view text);

// Nothing when the text is not UTF-8 or holds a character that Windows-1252 cannot write:
// such a name could not reach the updater, which is an ANSI program.
std::optional<std::string> Utf8ToCp1252(std::string_view text);

// A Windows-1252 text as the host shows it: UTF-8 on Linux, the bytes themselves on
// Windows, whose console takes ANSI text from an ANSI program.
std::string HostText(std::string_view text);

// Where a host name (UTF-8 on Linux) fails Utf8ToCp1252, in UTF-8 for a person: the first
// character that Windows-1252 cannot write, with its place in the name and its code point
// ("character 13, \"Ω\" (U+03A9), is not in Windows-1252"), or the first byte that is not
// UTF-8. "" when the name converts.
std::string UnwritableCharacter(std::string_view name);

// The host's bytes as valid UTF-8, for JSON: a byte that is not UTF-8 becomes "\xNN".
std::string ValidUtf8(std::string_view name);

}  // namespace varno::pack
