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
  return out.str();
}

}  // namespace varno::fake
