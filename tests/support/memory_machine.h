// The in-memory Windows machine: every platform service, observable and scriptable, so the
// core runs against it natively in the tests.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/ansi_text.h"
#include "platform/platform.h"
#include "support/memory_files.h"
#include "support/memory_registry.h"
#include "support/memory_shell.h"

namespace varno::fake {

struct ShownBox {
  BoxKind kind;
  std::string title;
  std::string text;
  bool closeButton = false;  // the files-in-use box with "Fermer les programmes"
};

// Answers questions from a script (Oui when the script has run out) and keeps every box.
class MemoryDialogs : public Dialogs {
 public:
  bool ShowBox(BoxKind kind, const std::string& title, const std::string& text) override;
  std::string SelectDirectory() override;
  FilesInUseChoice AskAboutFilesInUse(const std::string& title, const std::string& text) override;
  std::deque<bool> answers;
  // The answers to the files-in-use box with its close button; when none is left, the next
  // of answers (Réessayer or Annuler).
  std::deque<FilesInUseChoice> choices;
  std::vector<ShownBox> shown;
  // What others do on the machine while a box waits for its answer.
  std::function<void(const ShownBox&)> whileShown;
  // What the user picks in the directory dialog (empty: "Annuler"), and how often it opened.
  std::string selectedDirectory;
  int directoryDialogs = 0;
};

class MemoryWindow : public ProgressWindow {
 public:
  void SetCaption(Control control, const std::string& caption) override;
  void ShowControl(Control control) override;
  void ShowForm() override;
  void RequestQuit() override { quitRequested = true; }
  bool QuitRequested() override { return quitRequested; }
  void RunMessageLoop(const std::function<void()>& onButton1Click) override;
  void ShowProgress(uint64_t total) override;
  void SetProgress(uint64_t done) override;
  void HideProgress() override { progressVisible = false; }
  bool ProcessPendingMessages() override;

  std::string& Caption(Control control) { return captions[static_cast<size_t>(control)]; }
  bool Visible(Control control) const { return visible[static_cast<size_t>(control)]; }

  std::array<std::string, 7> captions{};
  std::array<bool, 7> visible{};
  bool formVisible = false;
  bool quitRequested = false;
  bool loopRan = false;
  bool clickButton1InLoop = false;  // the user clicks "Quitter" once the loop runs
  int repaints = 0;

  bool progressVisible = false;
  uint64_t progressTotal = 0;
  std::vector<uint64_t> progressPositions;  // every position the bar took, 0 first
  int turns = 0;                            // calls of ProcessPendingMessages
  // The user uses the close box once, at the first turn when the bar has reached this.
  std::optional<uint64_t> closeAtProgress;
  int closeRequests = 0;
  // Runs what a test wants to happen when a caption changes: an attacker's step at a known
  // point of the run.
  std::function<void(Control, const std::string&)> onCaption;
};

class MemoryProcesses : public Processes {
 public:
  bool StartProgram(const std::string& applicationName) override;
  bool ClaimSoleUpdater() override { return !otherUpdaterRunning; }
  std::vector<std::string> started;
  bool refuseStart = false;
  bool otherUpdaterRunning = false;
};

// Processes that hold files, as modules or open handles, with windows that accept or refuse
// to end. A file that a running process holds is in use on the machine's files.
class MemoryFileHolders : public FileHolders {
 public:
  struct Process {
    FileHolder holder;  // its files are the paths it holds
    bool running = true;
    // The answer of its windows to the log-off question; without a window nothing asks it.
    bool hasWindow = true;
    bool agreesToEnd = true;
    // Agrees but goes on running (a hung shutdown, or a finder that reports what never
    // happened).
    bool staysAfterAgreeing = false;
  };
  explicit MemoryFileHolders(MemoryFileSystem& files) : files_(files) {}

  std::vector<FileHolder> Find(const std::vector<std::string>& paths) override;
  EndRequest AskToEnd(const FileHolder& holder) override;
  bool ForceEnd(const FileHolder& holder) override;
  bool Restart(const FileHolder& holder) override;

  // Starts a process that holds these files.
  Process& Run(FileHolder holder);
  Process* Running(uint32_t processId);

  std::vector<Process> processes;
  std::vector<uint32_t> askedToEnd, forcedToEnd;
  std::vector<FileHolder> restarted;  // every start, with its command line and directory
  bool refuseRestart = false;

 private:
  void Release(const Process& process);
  MemoryFileSystem& files_;
  uint32_t nextProcessId_ = 4000;
};

// Libraries by full path, each with its exports; loads and frees are counted.
class MemoryLibraries : public Libraries {
 public:
  struct Library {
    std::map<std::string, std::function<uint32_t()>> exports;
  };
  LibraryHandle Load(const std::string& path) override;
  std::optional<uint32_t> CallExport(LibraryHandle library, const std::string& name) override;
  void Free(LibraryHandle library) override;

  // Makes the library at path loadable (an existing file of that path must be there too).
  Library& Add(const std::string& path) { return libraries[AnsiUpperCase(path)]; }

  std::map<std::string, Library> libraries;  // by upper-case full path
  std::vector<std::string> loaded;           // every path loaded, in order
  std::vector<std::string> called;           // every export called, in order
  int open = 0;                              // loaded and not freed yet

 private:
  std::map<LibraryHandle, std::string> handles_;
  LibraryHandle next_ = 1;
};

class MemorySystem : public System {
 public:
  explicit MemorySystem(MemoryFileSystem& files) : files_(files) {}
  std::string CurrentDirectory() override { return files_.CurrentDirectory(); }
  std::string WindowsDirectory() override { return windowsDirectory; }
  std::string SystemDirectory() override { return systemDirectory; }
  std::string ModuleFileName() override { return moduleFileName; }
  std::optional<OsVersion> WindowsVersion() override { return osVersion; }
  std::optional<FileVersionWords> FixedFileVersion(const std::string& path) override;
  RegionalSettings Regional() override { return regional; }
  int CurrentYear() override { return currentYear; }
  // Time does not pass here: a pause only runs what the test wants to happen meanwhile.
  void Pause(unsigned milliseconds) override {
    pausedMilliseconds += milliseconds;
    if (onPause) onPause();
  }
  unsigned pausedMilliseconds = 0;
  std::function<void()> onPause;

  std::string windowsDirectory = "C:\\WINDOWS";
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::string moduleFileName = "C:\\Package\\Varnolith_MAJ_Solo.exe";
  std::optional<OsVersion> osVersion = OsVersion{2, 6, 1};
  RegionalSettings regional;
  int currentYear = 2026;
  // Version information by full path; a file missing here has none.
  std::map<std::string, FileVersionWords> fileVersions;
  void SetFileVersion(const std::string& path, uint16_t major, uint16_t minor, uint16_t release = 0,
                      uint16_t build = 0);

 private:
  MemoryFileSystem& files_;
};

// A machine with a C: drive, a Windows directory, a desktop, and the package directory as
// current directory.
class MemoryMachine {
 public:
  MemoryMachine();

  Platform platform() { return Platform{files, registry, shell, dialogs, window, processes, libraries, system, holders}; }

  // The whole state, for the message of a failing test.
  std::string Dump() const;

  MemoryFileSystem files;
  MemoryRegistry registry;
  MemoryShell shell{files};
  MemoryDialogs dialogs;
  MemoryWindow window;
  MemoryProcesses processes;
  MemoryLibraries libraries;
  MemorySystem system{files};
  MemoryFileHolders holders{files};
};

inline constexpr char kTestDesktop[] = "C:\\Users\\Pierre\\Desktop";
inline constexpr char kTestPackageDir[] = "C:\\Package";

}  // namespace varno::fake
