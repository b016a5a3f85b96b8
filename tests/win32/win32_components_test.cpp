// The control's copy into the real system directory, its real self-registration, and the
// real call into the database library, with the product's sample files.
#include <gtest/gtest.h>

#include "base/ansi_text.h"
#include "base/update_error.h"
#include "components/control_registration.h"
#include "app/run_log.h"
#include "platform/registry_access.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_libraries.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_system.h"
#include "support/memory_machine.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

const std::string kSamples = WithoutTrailingBackslash(VARNO_SAMPLES_DIR);
constexpr char kServerKey[] = "CLSID\\{6F1C2A4E-8B3D-4E5F-9A71-2C3D4E5F6A7B}\\InprocServer32";

class Win32ComponentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.installDir = scratch.In("Varnolith");
    CreateDirectoryA(state.installDir.c_str(), nullptr);
    CreateDirectoryA(scratch.In("Desktop").c_str(), nullptr);
    log.Start(scratch.In("Desktop"));
  }
  void TearDown() override {
    DeleteFileA((system.SystemDirectory() + "\\Varxxlith.ocx").c_str());
    RegistryAccess access(registry);
    access.SetRootKey(kHkeyLocalMachine);
    if (access.OpenKey("Software\\Tolmerik\\Varnolith", false)) access.DeleteValue("VarnoInst");
  }
  void Provide(const std::string& sample, const std::string& name) {
    ASSERT_TRUE(CopyFileA(JoinPath(kSamples, sample).c_str(), JoinPath(state.installDir, name).c_str(), FALSE))
        << sample;
  }
  std::string RegisteredServer() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kServerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
    char value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kServerKey);
    return value;
  }

  ScratchDirectory scratch;
  win32::Win32FileSystem files;
  win32::Win32Registry registry;
  win32::Win32Libraries libraries;
  win32::Win32System system;
  MemoryMachine machine;  // boxes, window, shell and processes are not expected here
  Platform platform{files, registry, machine.shell, machine.dialogs, machine.window, machine.processes,
                    libraries, system, machine.holders};
  RunState state;
  RunLog log{files};
};

TEST_F(Win32ComponentsTest, CopiesTheControlIntoTheSystemDirectoryAndRegistersIt) {
  Provide("Varxxlith.ocx", "Varxxlith.ocx");
  InstallControl(platform, state, log);
  const std::string systemControl = system.SystemDirectory() + "\\Varxxlith.ocx";
  EXPECT_EQ(ReadBytes(systemControl), ReadBytes(JoinPath(state.installDir, "Varxxlith.ocx")));
  EXPECT_TRUE(AnsiSameText(RegisteredServer(), systemControl));
  EXPECT_EQ(log.Lines().at(2), "Enregistrement de Varxxlith.ocx dans " + system.SystemDirectory());
  EXPECT_TRUE(machine.dialogs.shown.empty());

  // A second run finds the earlier copy, deletes it and registers the new one.
  InstallControl(platform, state, log);
  EXPECT_EQ(log.Lines().at(5), systemControl + " : succes de la supression");
  EXPECT_TRUE(AnsiSameText(RegisteredServer(), systemControl));
}

TEST_F(Win32ComponentsTest, AFailingRegistrationRaisesWithThePath) {
  Provide("failing\\Varxxlith.ocx", "Varxxlith.ocx");
  const std::string systemControl = system.SystemDirectory() + "\\Varxxlith.ocx";
  try {
    InstallControl(platform, state, log);
    ADD_FAILURE() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_EQ(std::string(error.what()), "L'appel \xE0 DllRegisterServer a \xE9" "chou\xE9 dans \"" + systemControl + "\"");
  }
  EXPECT_EQ(RegisteredServer(), "<none>");
}

TEST_F(Win32ComponentsTest, TheDatabaseLibraryIsCalledUnlessUpToDate) {
  Provide("VarnoUpDate.dll", "VarnoUpDate.dll");
  EXPECT_TRUE(SetUpDateTable(platform, state));
  RegistryAccess access(registry);
  access.SetRootKey(kHkeyLocalMachine);
  access.SetAccess(kKeyRead);
  ASSERT_TRUE(access.OpenKey("Software\\Tolmerik\\Varnolith", false));
  EXPECT_EQ(access.ReadInteger("VarnoInst"), 15);
  // Up to date now: the library is not needed any more.
  DeleteFileA(JoinPath(state.installDir, "VarnoUpDate.dll").c_str());
  EXPECT_TRUE(SetUpDateTable(platform, state));
}

TEST_F(Win32ComponentsTest, AResultWithAZeroLowByteIsAFailure) {
  Provide("failing\\VarnoUpDate.dll", "VarnoUpDate.dll");
  EXPECT_FALSE(SetUpDateTable(platform, state));
  DeleteFileA(JoinPath(state.installDir, "VarnoUpDate.dll").c_str());
  EXPECT_FALSE(SetUpDateTable(platform, state));  // missing: a failed update, not a crash
  Provide("Admin.dll", "VarnoUpDate.dll");
  EXPECT_FALSE(SetUpDateTable(platform, state));  // no such export
}

}  // namespace
}  // namespace varno::fake
