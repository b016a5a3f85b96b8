#include "app/run_log.h"

#include "base/ansi_text.h"
#include "base/text_lines.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "base/windows_path.h"

namespace varno {

RunLog::RunLog(FileSystem& files) : files_(files) {}

void RunLog::Start(const std::string& userDesktopPath) {
  const std::string desktop = WithoutTrailingBackslash(userDesktopPath);
  const bool onDesktop = files_.DirectoryExists(desktop);
  path_ = onDesktop ? JoinPath(desktop, text::kRunLogFileName) : text::kRunLogFileName;
  // A link would have the elevated updater write, and later move or delete, where the one
  // who planted it could not.
  if ((onDesktop && files_.IsLinked(desktop)) || files_.IsLinked(path_)) {
    refusedPath_ = path_;
    path_.clear();
  }
  Log(text::kLogStart);
}

void RunLog::StartAt(const std::string& path) {
  path_ = path;
  const std::vector<std::string> made = MakeDirectories(ParentOf(path));
  try {
    if (files_.FileExists(path_)) {
      auto earlier = files_.ReadWholeFile(path_);
      if (!earlier) throw UpdateError(FormatText(text::kCannotCreateFile, {path_}));
      earlier_ = std::move(*earlier);
      if (!earlier_.empty() && earlier_.back() != '\n') earlier_ += "\r\n";
    }
    LogWithNoSave(text::kLogStart);
    for (const std::string& directory : made) LogWithNoSave(FormatText(text::kLogLogDirectoryMade, {directory}));
    Save();
  } catch (const UpdateError& error) {
    for (auto directory = made.rbegin(); directory != made.rend(); ++directory) {
      files_.RemoveEmptyDirectory(*directory);
    }
    throw LogUnwritable(error.what());
  }
}

std::vector<std::string> RunLog::MakeDirectories(const std::string& directory) {
  std::vector<std::string> missing;
  for (std::string level = directory; !level.empty() && !files_.DirectoryExists(level); level = ParentOf(level)) {
    missing.push_back(level);
  }
  std::vector<std::string> made;
  for (auto level = missing.rbegin(); level != missing.rend() && files_.MakeDirectory(*level); ++level) {
    made.push_back(*level);
  }
  return made;
}

void RunLog::Log(const std::string& line) {
  lines_.push_back(line);
  Save();
}

void RunLog::LogWithNoSave(const std::string& line) { lines_.push_back(line); }

void RunLog::MoveInto(const std::string& installDir) {
  const std::string destination = JoinPath(installDir, text::kRunLogFileName);
  if (!refusedPath_.empty()) {
    LogWithNoSave(FormatText(text::kLogLinkedLogRefused, {refusedPath_}));
  } else {
    files_.MoveFileTo(path_, destination);
    if (files_.FileExists(path_)) {
      // The words name the desktop whichever first path the log had.
      LogWithNoSave(files_.RemoveFile(path_) ? text::kLogDesktopLogDeleted : text::kLogDesktopLogNotDeleted);
    }
  }
  path_ = destination;
}

void RunLog::Finish() { Log(text::kLogFinish); }

void RunLog::Save() {
  if (path_.empty()) return;
  // Through a temporary file of its own name, so that a run killed while saving leaves no
  // stray file that nothing would remove: the next save removes it.
  if (!files_.ReplaceWholeFileBeside(path_, earlier_ + JoinLinesCrLf(lines_))) {
    throw UpdateError(FormatText(text::kCannotCreateFile, {path_}));
  }
}

}  // namespace varno
