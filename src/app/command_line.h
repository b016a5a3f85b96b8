// The updater's command line: how a deployment tool asks for a run without anyone present.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varno {

// What the command line asks of the run. Without arguments every field keeps its default
// and the updater behaves as it always did.
struct RunOptions {
  // No window, no box, no directory dialog: every box's text goes to the run log and is
  // answered as an administrator would want.
  bool quiet = false;
  // With quiet: an equal installed version is updated again rather than left alone.
  bool reinstall = false;
  // The installation directory when none is found, instead of the directory dialog.
  std::string installDir;
  // Where the run log is kept for the whole run, appended to, instead of the desktop and
  // then the installation directory.
  std::string logPath;
  // Programs that hold files the update replaces are asked to end as at log-off, and started
  // again once the run is over; with force, one that refuses is ended all the same.
  bool closeApplications = false;
  bool forceCloseApplications = false;
};

struct CommandLine {
  enum class Action {
    Run,    // the update, shaped by options
    Usage,  // "/?" or "/help": the usage, and nothing else
    Wrong,  // a switch the updater does not know, or one without its value
  };
  Action action = Action::Run;
  RunOptions options;
};

// The arguments of a whole Windows command line as the C runtime splits them: the program
// name first (up to its closing quote or the first blank, backslashes kept as written),
// then arguments separated by blanks, where quotes group blanks, "\"" is a quote, and
// backslashes count only before a quote (2n of them give n and a grouping quote, 2n+1 give
// n and a literal quote). The program name is not returned.
std::vector<std::string> SplitCommandLineArguments(std::string_view commandLine);

// The switches, each starting with "/" or "-", their names in any case: quiet, reinstall,
// closeapplications, forcecloseapplications (which implies the former), dir=PATH, log=PATH,
// ? and help. A later switch of the same name wins. Anything else, or
// dir= and log= without a path, makes the command line wrong.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace varno
