// The run log "VarnoMaJLog.txt": the lines of the run, kept in memory and written out in
// full after almost every line, so the file always shows the run up to its last saved line.
#pragma once

#include <string>
#include <vector>

#include "base/line_log.h"
#include "platform/files.h"

namespace varno {

class RunLog : public LineLog {
 public:
  explicit RunLog(FileSystem& files);

  // Chooses the first path (the desktop when that directory exists, otherwise the bare
  // file name, which resolves in the current directory) and logs the first line.
  void Start(const std::string& userDesktopPath);

  // Keeps the log at this path for the whole run, after what the file already holds (one
  // log for every run on a machine), and logs the first line. A file there that cannot be
  // read raises "Impossible de créer le fichier %s" rather than being replaced.
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

  FileSystem& files_;
  std::string path_;
  std::vector<std::string> lines_;
  // What the file held before this run, kept ahead of the run's lines at every save.
  std::string earlier_;
};

}  // namespace varno
