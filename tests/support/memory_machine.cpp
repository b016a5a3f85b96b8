#include "support/memory_machine.h"

#include <algorithm>

#include <sstream>

#include "base/ansi_text.h"

namespace varno::fake {

bool MemoryDialogs::ShowBox(BoxKind kind, const std::string& title, const std::string& text) {
  shown.push_back({kind, title, text});
  if (whileShown) whileShown(shown.back());
  if (kind == BoxKind::Message || kind == BoxKind::Error) return true;
  if (answers.empty()) return true;
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
}

FilesInUseChoice MemoryDialogs::AskAboutFilesInUse(const std::string& title, const std::string& text) {
  shown.push_back({BoxKind::RetryCancel, title, text, true});
  if (whileShown) whileShown(shown.back());
  if (!choices.empty()) {
    const FilesInUseChoice choice = choices.front();
    choices.pop_front();
    return choice;
  }
  if (answers.empty()) return FilesInUseChoice::Retry;
  const bool answer = answers.front();
  answers.pop_front();
  return answer ? FilesInUseChoice::Retry : FilesInUseChoice::Cancel;
}

std::vector<FileHolder> MemoryFileHolders::Find(const std::vector<std::string>& paths) {
  std::vector<FileHolder> found;
  for (const Process& process : processes) {
    if (!process.running) continue;
    FileHolder holder = process.holder;
    holder.files.clear();
    for (const std::string& path : paths) {
      for (const std::string& held : process.holder.files) {
        if (AnsiSameText(held, path)) holder.files.push_back(path);
      }
    }
    if (!holder.files.empty()) found.push_back(holder);
  }
  return found;
}

EndRequest MemoryFileHolders::AskToEnd(const FileHolder& holder) {
  askedToEnd.push_back(holder.processId);
  Process* process = Running(holder.processId);
  if (!process) return EndRequest::Ended;
  if (!process->hasWindow) return EndRequest::StillRunning;
  if (!process->agreesToEnd) return EndRequest::Refused;
  if (process->staysAfterAgreeing) return EndRequest::Ended;
  process->running = false;
  Release(*process);
  return EndRequest::Ended;
}

bool MemoryFileHolders::ForceEnd(const FileHolder& holder) {
  forcedToEnd.push_back(holder.processId);
  Process* process = Running(holder.processId);
  if (!process) return true;
  process->running = false;
  Release(*process);
  return true;
}

bool MemoryFileHolders::Restart(const FileHolder& holder) {
  if (refuseRestart) return false;
  restarted.push_back(holder);
  // The program opens again what it held before it was closed.
  FileHolder again = holder;
  for (const Process& process : processes) {
    if (process.holder.processId == holder.processId) again.files = process.holder.files;
  }
  again.processId = 0;
  Run(again);
  return true;
}

MemoryFileHolders::Process& MemoryFileHolders::Run(FileHolder holder) {
  if (holder.processId == 0) holder.processId = nextProcessId_ += 4;
  for (const std::string& path : holder.files) files_.SetInUse(path);
  processes.push_back({std::move(holder)});
  return processes.back();
}

MemoryFileHolders::Process* MemoryFileHolders::Running(uint32_t processId) {
  for (Process& process : processes) {
    if (process.running && process.holder.processId == processId) return &process;
  }
  return nullptr;
}

void MemoryFileHolders::Release(const Process& ended) {
  for (const std::string& path : ended.holder.files) {
    bool stillHeld = false;
    for (const Process& process : processes) {
      if (!process.running) continue;
      for (const std::string& held : process.holder.files) stillHeld = stillHeld || AnsiSameText(held, path);
    }
    if (!stillHeld) files_.SetInUse(path, false);
  }
}

std::string MemoryDialogs::SelectDirectory() {
  ++directoryDialogs;
  return selectedDirectory;
}

std::optional<FileVersionWords> MemorySystem::FixedFileVersion(const std::string& path) {
  if (!files_.FileExists(path)) return std::nullopt;
  auto it = fileVersions.find(AnsiUpperCase(files_.FullPath(path)));
  if (it == fileVersions.end()) return std::nullopt;
  return it->second;
}

void MemorySystem::SetFileVersion(const std::string& path, uint16_t major, uint16_t minor, uint16_t release,
                                  uint16_t build) {
  fileVersions[AnsiUpperCase(files_.FullPath(path))] =
      FileVersionWords{(uint32_t{major} << 16) | minor, (uint32_t{release} << 16) | build};
}

void MemoryWindow::SetCaption(Control control, const std::string& caption) {
  Caption(control) = caption;
  if (onCaption) onCaption(control, caption);
}

void MemoryWindow::ShowControl(Control control) {
  visible[static_cast<size_t>(control)] = true;
  if (control == Control::Button1) progressVisible = false;
  ++repaints;
}

void MemoryWindow::ShowForm() {
  formVisible = true;
  ++repaints;
}

void MemoryWindow::ShowProgress(uint64_t total) {
  progressVisible = true;
  progressTotal = total;
  progressPositions = {0};
}

void MemoryWindow::SetProgress(uint64_t done) { progressPositions.push_back(std::min(done, progressTotal)); }

bool MemoryWindow::ProcessPendingMessages() {
  ++turns;
  const uint64_t position = progressPositions.empty() ? 0 : progressPositions.back();
  if (!closeAtProgress || position < *closeAtProgress) return false;
  closeAtProgress.reset();
  ++closeRequests;
  return true;
}

void MemoryWindow::RunMessageLoop(const std::function<void()>& onButton1Click) {
  loopRan = true;
  if (clickButton1InLoop && Visible(Control::Button1)) onButton1Click();
}

bool MemoryProcesses::StartProgram(const std::string& applicationName) {
  if (refuseStart) return false;
  started.push_back(applicationName);
  return true;
}

LibraryHandle MemoryLibraries::Load(const std::string& path) {
  if (!libraries.count(AnsiUpperCase(path))) return 0;
  loaded.push_back(path);
  ++open;
  handles_[next_] = AnsiUpperCase(path);
  return next_++;
}

std::optional<uint32_t> MemoryLibraries::CallExport(LibraryHandle library, const std::string& name) {
  auto handle = handles_.find(library);
  if (handle == handles_.end()) return std::nullopt;
  auto& exports = libraries[handle->second].exports;
  auto function = exports.find(name);
  if (function == exports.end()) return std::nullopt;
  called.push_back(name);
  return function->second();
}

void MemoryLibraries::Free(LibraryHandle library) {
  if (handles_.erase(library)) --open;
}

MemoryMachine::MemoryMachine() {
  files.AddDirectory(system.windowsDirectory);
  files.AddDirectory(system.systemDirectory);
  files.AddDirectory(kTestDesktop);
  files.SetCurrentDirectory(kTestPackageDir);
  shell.folders[kCsidlDesktop] = kTestDesktop;
  registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
  // Where Windows keeps the files to delete at the next start.
  registry.AddKey(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
  registry.AddKey(kHkeyCurrentUser, "SOFTWARE");
}

std::string MemoryMachine::Dump() const {
  static const char* const kKinds[] = {"message", "confirmation", "warning", "error"};
  std::ostringstream out;
  out << "--- files\n" << files.Dump() << "--- registry\n" << registry.Dump() << "--- boxes\n";
  for (const auto& box : dialogs.shown) {
    out << kKinds[static_cast<int>(box.kind)] << " [" << box.title << "] " << box.text << "\n";
  }
  out << "--- window " << (window.formVisible ? "visible" : "hidden")
      << (window.quitRequested ? ", quit requested" : "") << "\n";
  for (size_t i = 0; i < window.captions.size(); ++i) {
    out << (i == 6 ? std::string("Button1") : "Label" + std::to_string(i + 1)) << " "
        << (window.visible[i] ? "shown " : "hidden ") << window.captions[i] << "\n";
  }
  out << "--- started processes\n";
  for (const auto& name : processes.started) out << name << "\n";
  out << "--- processes holding files\n";
  for (const auto& process : holders.processes) {
    out << process.holder.processId << " " << process.holder.program << (process.running ? "" : " (ended)") << "\n";
  }
  return out.str();
}

}  // namespace varno::fake
