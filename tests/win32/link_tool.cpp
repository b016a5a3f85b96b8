// Shortcuts through the project's Win32 shell code, for the golden files and the
// end-to-end tests:
//   varno_link_tool golden DIR           saves the golden shortcuts into DIR
//   varno_link_tool create TARGET LINK   saves LINK to TARGET (working directory: its own)
//   varno_link_tool target LINK          prints what GetLinkTarget reads from LINK
// Exit code 0 on success, 1 when a save failed or a message box was shown.
#include <cstdio>
#include <string>

#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "shortcuts/golden_links.h"
#include "shortcuts/shell_link.h"
#include "support/memory_machine.h"

namespace {

using varno::LinkSave;
using varno::ShellLinkFields;

std::string DirectoryOf(const std::string& path) { return path.substr(0, path.find_last_of("\\:") + 1); }

int Save(varno::win32::Win32Shell& shell, const ShellLinkFields& link, const std::string& path) {
  if (shell.SaveShellLink(link, path) == LinkSave::Saved) return 0;
  std::fprintf(stderr, "not saved: %s\n", path.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  varno::win32::ComApartment com;
  varno::win32::Win32Shell shell(nullptr);
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "golden" && argc == 3) {
    int status = 0;
    for (const auto& golden : varno::fake::kGoldenLinks) {
      status |= Save(shell, {golden.target, golden.arguments, golden.workingDirectory},
                     std::string(argv[2]) + "\\" + golden.file);
    }
    return status;
  }
  if (command == "create" && argc == 4) return Save(shell, {argv[2], "", DirectoryOf(argv[2])}, argv[3]);
  if (command == "target" && argc == 3) {
    varno::win32::Win32FileSystem files;
    varno::win32::Win32Registry registry;
    varno::fake::MemoryMachine machine;  // the boxes are kept, not shown
    varno::Platform platform{files,           registry,           shell,          machine.dialogs,
                             machine.window,  machine.processes, machine.libraries, machine.system, machine.holders};
    varno::ShellLink shellLink(platform);
    std::printf("%s\n", shellLink.GetLinkTarget(argv[2]).c_str());
    for (const auto& box : machine.dialogs.shown) std::fprintf(stderr, "box: %s\n", box.text.c_str());
    return machine.dialogs.shown.empty() ? 0 : 1;
  }
  std::fprintf(stderr, "usage: varno_link_tool golden DIR | create TARGET LINK | target LINK\n");
  return 2;
}
