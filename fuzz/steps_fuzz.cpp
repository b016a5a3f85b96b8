// Whole steps on a fuzzed package description (MjaIni.ini, header included) in an
// in-memory machine with the product installed, its shell folders, and a small archive in
// the package directory for "[insubdir]" lines to name: the new directories, the archives
// of sub-directories, the registry values and the shortcuts. A step may raise the error
// the system defines; anything else is a finding. The record must still save and load back
// as the same lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/update_error.h"
#include "fuzz_check.h"
#include "package/archive_writer.h"
#include "shortcuts/shell_link.h"
#include "shortcuts/shortcut_steps.h"
#include "steps/file_steps.h"
#include "steps/registry_step.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace {

using varno::fake::MemoryMachine;

template <typename Step>
void RunStep(const Step& step) {
  try {
    step();
  } catch (const varno::UpdateError&) {
    // A conversion or a write the system refuses ends the run with its error box.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kArchive =
      varno::ArchiveBytes({varno::MemberFromBytes("a.dat", "AAA"), varno::MemberFromBytes("Sub\\b.txt", "B")});
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  MemoryMachine machine;
  varno::fake::InstallProduct(machine);
  varno::fake::AddShellFolders(machine);
  machine.files.AddFile(std::string(varno::fake::kTestPackageDir) + "\\pics.slp", kArchive);
  machine.files.AddFile(std::string(varno::fake::kTestPackageDir) + "\\MjaIni.ini", bytes);

  varno::RunState state;
  state.packageDir = varno::fake::kTestPackageDir;
  state.packageDescriptionPath = state.packageDir + "\\MjaIni.ini";
  state.installDir = varno::fake::kTestInstallDir;
  state.installedVersion = "2816080";
  state.newVersion = "2816090";
  state.versionLabel = "2.9";

  varno::Platform platform = machine.platform();
  varno::WriteLogList record;
  varno::ShellLink links(platform);
  RunStep([&] { varno::CreateNewDir(platform, state, record); });
  RunStep([&] { varno::CopyInNewDir(platform, state, record); });
  RunStep([&] { varno::MjaVarnoReg(platform, state, record); });
  RunStep([&] { varno::AddShellLink(platform, state, record, links); });

  const std::string path = varno::UninstallRecordPath(state.installDir);
  record.SaveToFile(machine.files, path);
  varno::WriteLogList reloaded;
  reloaded.LoadFromFile(machine.files, path);
  FUZZ_CHECK(reloaded.Lines() == record.Lines());
  return 0;
}
