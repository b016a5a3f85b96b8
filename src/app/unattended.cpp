#include "app/unattended.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "platform/message_boxes.h"

namespace varno {
namespace {

// A box's line breaks would split its text over several lines of the log.
std::string OnOneLine(const std::string& text) {
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += text[i];
    }
  }
  return line;
}

}  // namespace

bool RunDialogs::ShowBox(BoxKind kind, const std::string& title, const std::string& text) {
  if (!options_.quiet) return inner_.ShowBox(kind, title, text);
  Log(FormatText(text::kLogUnattendedBox, {title, OnOneLine(text)}));
  switch (kind) {
    case BoxKind::Message:
    case BoxKind::Error: return true;
    case BoxKind::Confirmation: break;
    case BoxKind::RetryCancel:
      // Nobody can close a program for a deployment tool: the driver waits on its own.
      Log(text::kLogUnattendedNo);
      return false;
    case BoxKind::Warning:
      // The only warning that asks is whether to apply an installed version again: a
      // deployment tool that runs the same package twice expects nothing to happen.
      if (!options_.reinstall) {
        Log(text::kLogUnattendedNo);
        return false;
      }
      break;
  }
  Log(text::kLogUnattendedYes);
  return true;
}

std::string RunDialogs::SelectDirectory() {
  if (!options_.installDir.empty()) return options_.installDir;
  return options_.quiet ? std::string() : inner_.SelectDirectory();
}

FilesInUseChoice RunDialogs::AskAboutFilesInUse(const std::string& title, const std::string& text) {
  if (!options_.quiet) return inner_.AskAboutFilesInUse(title, text);
  return ShowBox(BoxKind::RetryCancel, title, text) ? FilesInUseChoice::Retry : FilesInUseChoice::Cancel;
}

void RunDialogs::Log(const std::string& line) {
  if (!log_) return;
  try {
    log_->Log(line);
  } catch (const std::exception&) {
    // The log keeps the line; a box must never end the run because the log cannot be saved.
  }
}

std::optional<ExitCode> AnswerCommandLine(const CommandLine& commandLine, Dialogs& dialogs, System& system) {
  if (commandLine.action == CommandLine::Action::Run) return std::nullopt;
  if (!commandLine.options.quiet) ShowPlainMessage(dialogs, system, text::kUsage);
  return commandLine.action == CommandLine::Action::Usage ? ExitCode::kSuccess : ExitCode::kBadCommandLine;
}

}  // namespace varno
