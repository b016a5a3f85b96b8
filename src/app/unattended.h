// The services of a run as its command line shapes them: boxes that nobody answers, a
// window that is never shown, an installation directory given in advance.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "app/command_line.h"
#include "app/exit_codes.h"
#include "base/line_log.h"
#include "platform/dialogs.h"
#include "platform/system.h"
#include "platform/window.h"

namespace varno {

// Without quiet, the boxes are the inner service's. With quiet, each box's text goes to the
// log (flattened to one line) and is answered at once: OK, the confirmation Oui, a warning
// Oui only with reinstall. The directory dialog gives the directory of the command line
// when there is one; otherwise the inner dialog, or nothing with quiet.
class RunDialogs final : public Dialogs {
 public:
  RunDialogs(Dialogs& inner, const RunOptions& options) : inner_(inner), options_(options) {}

  // Where the texts of quiet boxes go from now on; before, they are dropped. A line that
  // the log cannot save stays in it for its next save.
  void AttachLog(LineLog* log) { log_ = log; }

  bool ShowBox(BoxKind kind, const std::string& title, const std::string& text) override;
  std::string SelectDirectory() override;
  FilesInUseChoice AskAboutFilesInUse(const std::string& title, const std::string& text) override;

 private:
  void Log(const std::string& line);

  Dialogs& inner_;
  RunOptions options_;
  LineLog* log_ = nullptr;
};

// Ends the run with this code without an error box: the reason is already in the log
// (a quiet box) and the line given is added. What the run changed is taken back.
class RunStopped : public std::runtime_error {
 public:
  RunStopped(ExitCode code, const std::string& logLine) : std::runtime_error(logLine), code_(code) {}
  ExitCode code() const { return code_; }

 private:
  ExitCode code_;
};

// For a command line that asks for no update: the usage box (not with quiet) and the exit
// code, 0 for "/?" and 1639 for a wrong one. Nothing when the update is to run.
std::optional<ExitCode> AnswerCommandLine(const CommandLine& commandLine, Dialogs& dialogs, System& system);

}  // namespace varno
