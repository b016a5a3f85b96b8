// Entry point of Varnolith_MAJ_Solo.exe: builds the Win32 platform and runs the updater.

#include "app/command_line.h"
#include "app/form1.h"
#include "app/unattended.h"
#include "installation/platform_check.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_event_log.h"
#include "platform/win32/win32_file_holders.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_libraries.h"
#include "platform/win32/win32_processes.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_window.h"
#ifdef VARNO_PACKAGE_KEY
#include "package_public_key.h"
#include "platform/win32/win32_crypto.h"
#endif

namespace {

// The updater runs elevated from a directory the user downloaded: a DLL planted there under
// a system name must never be loaded, so only the system directory is searched, for the
// program's loads and for those system libraries make on its behalf by bare name.
void RestrictDllSearchPath() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto setDefault =
      kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                   reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
             : nullptr;
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // XP, and Vista and 7 without KB2533623: this drops only the current directory; the
    // program's own directory stays first. There the imports (known DLLs only) and the
    // full paths of every library the program loads are what keeps planted ones out.
    SetDllDirectoryA("");
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearchPath();
  varno::win32::Win32Dialogs dialogs;
  varno::win32::Win32System system;

  const varno::CommandLine commandLine =
      varno::ParseCommandLine(varno::SplitCommandLineArguments(GetCommandLineA()));
  // A quiet run shows no box from the very start.
  varno::RunDialogs startDialogs(dialogs, commandLine.options);
  if (const auto answered = varno::AnswerCommandLine(commandLine, startDialogs, system)) {
    return varno::ToInt(*answered);
  }

  // Before COM, the window and the run log: a refused system ends here.
  const auto osFamilyName = varno::CheckPlatform(startDialogs, system);
  if (!osFamilyName) return varno::ToInt(varno::ExitCode::kPlatformRefused);

  varno::win32::ComApartment com;
  varno::win32::Win32ProgressWindow window;
  varno::win32::Win32FileSystem files;
  varno::win32::Win32Registry registry;
  varno::win32::Win32Shell shell(window.Handle());
  varno::win32::Win32Processes processes;
  varno::win32::Win32Libraries libraries;
  varno::win32::Win32FileHolders holders;
  varno::Platform platform{files, registry, shell, dialogs, window, processes, libraries, system, holders};
  varno::win32::Win32EventLog events;

#ifdef VARNO_PACKAGE_KEY
  varno::win32::Win32Crypto crypto;
  const varno::PackageTrust trust{crypto, varno::kPackagePublicKeyPem};
  return varno::ToInt(varno::RunApplication(platform, *osFamilyName, &trust, commandLine.options, &events));
#else
  return varno::ToInt(varno::RunApplication(platform, *osFamilyName, nullptr, commandLine.options, &events));
#endif
}
