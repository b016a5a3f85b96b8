// The run log "VarnoMaJLog.txt": the lines of the run, kept in memory and written out in
// full after almost every line, so the file always shows the run up to its last saved line.
#pragma once

#include <string>
#include <vector>

#include "base/line_log.h"
#include "base/update_error.h"
#include "platform/files.h"

namespace varno {

// The log the command line names can be neither made nor written; its message is the one
// of a file that cannot be created.
class LogUnwritable : public UpdateError {
 public:
  using UpdateError::UpdateError;
};

// The log the command line names lies where another account than the administrators could
// change it, or is a link: nothing is written there.
class LogPathUntrusted : public LogUnwritable {
 public:
  using LogUnwritable::LogUnwritable;
};

class RunLog : public LineLog {
 public:
  explicit RunLog(FileSystem& files);

  // Chooses the first path (the desktop when that directory exists, otherwise the bare
  // file name, which resolves in the current directory) and logs the first line. Others may
  // write in both places while the updater runs elevated: when the file there, or the
  // desktop directory, is a link, the log is held in memory until it moves into the
  // installation, where it says so.
  void Start(const std::string& userDesktopPath);

  // Keeps the log at this path for the whole run, after what the file already holds (one
  // log for every run on a machine), and logs the first line. Each existing level of the
  // path, and the file, must be something only administrators can change, and no link;
  // otherwise LogPathUntrusted is raised before anything is made. The missing directories
  // are made first, protected, each one logged. A log that cannot be written there, or a
  // file there that cannot be read, raises LogUnwritable, and the directories made are
  // removed again.
  void StartAt(const std::string& path);

  // Appends the line and saves the whole log. A failed save raises
  // "Impossible de créer le fichier %s"; the file keeps its previous content.
  void Log(const std::string& line) override;

  // Appends only; the line reaches the file with the next save.
  void LogWithNoSave(const std::string& line);

  // Moves the file into the installation directory (an existing directory) and switches
  // the path there. A failed move is silent; the file left behind is deleted and the
  // outcome of that deletion is logged with no save.
  void MoveInto(const std::string& installDir);

  // Appends the shutdown line and saves.
  void Finish();

  const std::string& Path() const { return path_; }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  void Save();
  // Raises LogPathUntrusted at the first existing level of directory, from its root down,
  // that another account could change.
  void CheckLogDirectories(const std::string& directory);
  // Makes the directory and its missing parents, topmost first; gives those it made.
  std::vector<std::string> MakeDirectories(const std::string& directory);

  FileSystem& files_;
  // Empty while the log is held in memory.
  std::string path_;
  // The first path, refused as a link.
  std::string refusedPath_;
  std::vector<std::string> lines_;
  // What the file held before this run, kept ahead of the run's lines at every save.
  std::string earlier_;
};

}  // namespace varno
