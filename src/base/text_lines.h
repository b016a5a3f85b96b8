// Text files as lists of lines, the way the updater loads and saves them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varno {

// A line ends at CR LF, at a lone LF or at a lone CR; a last line without a line end is
// still a line, and an empty text is no line at all.
std::vector<std::string> SplitTextLines(std::string_view bytes);

// Every line followed by CR LF, the last one included.
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

}  // namespace varno
