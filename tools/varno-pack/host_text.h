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

}  // namespace varno::pack
