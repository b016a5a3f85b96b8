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

namespace {

const char* DistrustReason(FileTrust trust) {
  switch (trust) {
    case FileTrust::Linked: return text::kUntrustedLinked;
    case FileTrust::ExtraName: return text::kUntrustedExtraName;
    case FileTrust::ForeignOwner: return text::kUntrustedOwner;
    default: return text::kUntrustedWritable;
  }
}

}  // namespace

void RunLog::CheckLogDirectories(const std::string& directory) {
  // Topmost first: a level is trusted only once what holds it cannot be changed by others.
  std::vector<std::string> levels;
  for (std::string level = directory; !level.empty(); level = ParentOf(level)) levels.push_back(level);
  for (auto level = levels.rbegin(); level != levels.rend() && files_.DirectoryExists(*level); ++level) {
    // The log's own directory must not take others' entries either: a name planted beside
    // the log (its temporary file's) would be followed or would block every save.
    const FileTrust trust = files_.TrustOfDirectory(*level, level != levels.rend() - 1);
    if (trust != FileTrust::Trusted) {
      throw LogPathUntrusted(FormatText(text::kLogPathUntrusted, {*level, DistrustReason(trust)}));
    }
  }
}

void RunLog::StartAt(const std::string& path) {
  path_ = path;
  // Given on the command line of an elevated run, often in a directory that any user could
  // have made first: followed nowhere another account can change.
  CheckLogDirectories(ParentOf(path));
  const std::vector<std::string> made = MakeDirectories(ParentOf(path));
  try {
    // Nobody else can add, rename or delete in the log's directory now: a file there that
    // is no link stays the one read.
    if (files_.IsLinked(path_)) {
      throw LogPathUntrusted(FormatText(text::kLogPathUntrusted, {path_, text::kUntrustedLinked}));
    }
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
    if (dynamic_cast<const LogPathUntrusted*>(&error)) throw;
    throw LogUnwritable(error.what());
  }
}

std::vector<std::string> RunLog::MakeDirectories(const std::string& directory) {
  std::vector<std::string> missing;
  for (std::string level = directory; !level.empty() && !files_.DirectoryExists(level); level = ParentOf(level)) {
    missing.push_back(level);
  }
  // Protected, as a user could otherwise add to them what the next save would follow. A
  // level someone else made in the meantime is not the run's: refused.
  std::vector<std::string> made;
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    if (!files_.MakeProtectedDirectory(*level)) {
      if (files_.DirectoryExists(*level) || files_.IsLinked(*level)) {
        for (auto directory = made.rbegin(); directory != made.rend(); ++directory) files_.RemoveEmptyDirectory(*directory);
        throw LogPathUntrusted(FormatText(text::kLogPathUntrusted, {*level, text::kUntrustedOwner}));
      }
      break;
    }
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
