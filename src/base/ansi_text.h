// Helpers for 8-bit Windows-1252 text. The updater is an ANSI program: every string it
// handles (paths, package lines, registry values, messages) is a std::string of
// Windows-1252 bytes.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// The path rules come with the text helpers: code that builds paths from text needs both.
#include "base/windows_path.h"

namespace varno {

// Two case-insensitive comparisons exist and are named apart. The ANSI one folds the
// letters of Windows-1252, accented ones included (as the system's ANSI comparison does);
// the ASCII one folds a-z only.
char AnsiUpper(char c);
char AnsiLower(char c);
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);
bool AnsiSameText(std::string_view a, std::string_view b);

char AsciiUpper(char c);
bool AsciiSameText(std::string_view a, std::string_view b);

// Removes blanks and control characters (every byte up to 0x20) at both ends.
std::string TrimBlanks(std::string_view text);

// Replaces each "%s" of the pattern, in order, by the next argument.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);

// The items one after the other with the separator between each two of them.
std::string JoinTexts(const std::vector<std::string>& items, std::string_view separator);

}  // namespace varno
