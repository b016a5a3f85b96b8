#include "app/run_log.h"

#include "base/ansi_text.h"
#include "base/text_lines.h"
#include "base/texts.h"
#include "base/update_error.h"

namespace varno {

RunLog::RunLog(FileSystem& files) : files_(files) {}

void RunLog::Start(const std::string& userDesktopPath) {
  const std::string desktop = WithoutTrailingBackslash(userDesktopPath);
  path_ = files_.DirectoryExists(desktop) ? JoinPath(desktop, text::kRunLogFileName) : text::kRunLogFileName;
  Log(text::kLogStart);
}

void RunLog::StartAt(const std::string& path) {
  path_ = path;
  if (files_.FileExists(path_)) {
    auto earlier = files_.ReadWholeFile(path_);
    if (!earlier) throw UpdateError(FormatText(text::kCannotCreateFile, {path_}));
    earlier_ = std::move(*earlier);
    if (!earlier_.empty() && earlier_.back() != '\n') earlier_ += "\r\n";
  }
  Log(text::kLogStart);
}

void RunLog::Log(const std::string& line) {
  lines_.push_back(line);
  Save();
}

void RunLog::LogWithNoSave(const std::string& line) { lines_.push_back(line); }

void RunLog::MoveInto(const std::string& installDir) {
  const std::string destination = JoinPath(installDir, text::kRunLogFileName);
  files_.MoveFileTo(path_, destination);
  if (files_.FileExists(path_)) {
    // The words name the desktop whichever first path the log had.
    LogWithNoSave(files_.RemoveFile(path_) ? text::kLogDesktopLogDeleted : text::kLogDesktopLogNotDeleted);
  }
  path_ = destination;
}

void RunLog::Finish() { Log(text::kLogFinish); }

void RunLog::Save() {
  // Through a temporary file of its own name, so that a run killed while saving leaves no
  // stray file that nothing would remove: the next save removes it.
  if (!files_.ReplaceWholeFileBeside(path_, earlier_ + JoinLinesCrLf(lines_))) {
    throw UpdateError(FormatText(text::kCannotCreateFile, {path_}));
  }
}

}  // namespace varno
