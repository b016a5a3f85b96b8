#include "app/command_line.h"

#include "base/ansi_text.h"

namespace varno {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where the program name ends: it has its own rule, without backslash escapes, as a path
// such as "C:\Program Files\" would otherwise swallow the quote.
size_t SkipProgramName(std::string_view line) {
  size_t i = 0;
  if (!line.empty() && line[0] == '"') {
    const size_t close = line.find('"', 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  }
  while (i < line.size() && !IsBlank(line[i])) ++i;
  return i;
}

}  // namespace

std::vector<std::string> SplitCommandLineArguments(std::string_view line) {
  std::vector<std::string> arguments;
  size_t i = SkipProgramName(line);
  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string argument;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          // Two quotes inside a quoted part give one and keep it open.
          argument += '"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        argument.append(backslashes, '\\');
        if (backslashes == 0 && i < line.size()) argument += line[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  bool usage = false;
  bool wrong = false;
  // Every argument is read, so that a quiet run stays quiet whatever else is wrong.
  for (const std::string& argument : arguments) {
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) {
      wrong = true;
      continue;
    }
    const std::string_view body = std::string_view(argument).substr(1);
    const size_t equals = body.find('=');
    const std::string_view name = body.substr(0, equals);
    if (equals == std::string_view::npos) {
      if (AsciiSameText(name, "quiet")) {
        result.options.quiet = true;
        continue;
      }
      if (AsciiSameText(name, "reinstall")) {
        result.options.reinstall = true;
        continue;
      }
      if (AsciiSameText(name, "closeapplications")) {
        result.options.closeApplications = true;
        continue;
      }
      if (AsciiSameText(name, "forcecloseapplications")) {
        result.options.closeApplications = result.options.forceCloseApplications = true;
        continue;
      }
      if (name == "?" || AsciiSameText(name, "help")) {
        usage = true;
        continue;
      }
    } else if (equals + 1 < body.size()) {
      const std::string value(body.substr(equals + 1));
      if (AsciiSameText(name, "dir")) {
        result.options.installDir = value;
        continue;
      }
      if (AsciiSameText(name, "log")) {
        result.options.logPath = value;
        continue;
      }
    }
    wrong = true;
  }
  if (wrong) {
    result.action = CommandLine::Action::Wrong;
  } else if (usage) {
    result.action = CommandLine::Action::Usage;
  }
  return result;
}

}  // namespace varno
