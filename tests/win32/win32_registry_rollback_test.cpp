// Registry values that the ANSI functions cannot carry, changed through the journal and taken
// back: read with the W function, they are byte for byte what they were.
#include <gtest/gtest.h>

#include <aclapi.h>

#include <utility>

#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "rollback/rollback.h"
#include "support/memory_machine.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

constexpr wchar_t kWideKey[] = L"Software\\VarnoRollbackExact";
constexpr char kKey[] = "Software\\VarnoRollbackExact";

using Stored = std::pair<DWORD, std::string>;  // type, bytes; type 0 and "<absent>" when absent

Stored ReadWide(const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kWideKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {0, "<no key>"};
  std::string bytes(512, '\xCC');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(bytes.size());
  const LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return {0, "<absent>"};
  bytes.resize(size);
  return {type, bytes};
}

TEST(Win32RegistryRollback, ValuesOutsideTheCodePageComeBackByteForByte) {
  const std::vector<std::pair<const wchar_t*, Stored>> before = {
      // U+4E2D and U+0416, then an odd last byte
      {L"Text", {REG_SZ, std::string("\x2D\x4E\x16\x04\x41", 5)}},
      {L"List", {REG_MULTI_SZ, std::string("a\0\0\0\x2D\x4E\0\0\0\0", 10)}},
      {L"Own", {4000000000u, std::string("\x01\x02\x03", 3)}},
  };
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kWideKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (const auto& [name, value] : before) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, value.first, reinterpret_cast<const BYTE*>(value.second.data()),
                             static_cast<DWORD>(value.second.size())),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);

  ScratchDirectory scratch;
  win32::Win32FileSystem files;
  win32::Win32Registry registry;
  MemoryMachine machine;
  Platform real{files, registry, machine.shell, machine.dialogs, machine.window, machine.processes,
                machine.libraries, machine.system, machine.holders};
  const auto transaction = UpdateTransaction::Begin(real, scratch.Path());
  ASSERT_TRUE(transaction);
  Registry& journaled = transaction->platform().registry;
  RegKey opened = 0;
  ASSERT_EQ(journaled.OpenKey(kHkeyCurrentUser, kKey, kKeyAllAccess, false, &opened), kRegSuccess);
  EXPECT_EQ(journaled.SetValue(opened, "Text", kRegSz, std::string("neuf\0", 5)), kRegSuccess);
  EXPECT_EQ(journaled.DeleteValue(opened, "List"), kRegSuccess);
  EXPECT_EQ(journaled.SetValue(opened, "Own", kRegDword, std::string("\0\0\0\0", 4)), kRegSuccess);
  EXPECT_EQ(journaled.SetValue(opened, "New", kRegSz, std::string("x\0", 2)), kRegSuccess);
  journaled.CloseKey(opened);

  const RollbackFailures failures = transaction->Rollback();
  EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
  for (const auto& [name, value] : before) EXPECT_EQ(ReadWide(name), value);
  EXPECT_EQ(ReadWide(L"New"), Stored(0, "<absent>"));
  RegDeleteKeyW(HKEY_CURRENT_USER, kWideKey);
}

// Wine shows every file as its one user's, an owner that counts for nothing: a killed run's
// journal is trusted for its anchor, whose key only administrators and the system may open.
TEST(Win32RegistryRollback, AKilledRunIsRecoveredThroughItsAnchor) {
  ScratchDirectory scratch;
  win32::Win32FileSystem files;
  win32::Win32Registry registry;
  MemoryMachine machine;
  Platform real{files, registry, machine.shell, machine.dialogs, machine.window, machine.processes,
                machine.libraries, machine.system, machine.holders};
  const std::string data = scratch.Path() + "\\data.bin";
  ASSERT_TRUE(files.ReplaceWholeFile(data, "old"));
  {
    const auto transaction = UpdateTransaction::Begin(real, scratch.Path());
    ASSERT_TRUE(transaction);
    ASSERT_TRUE(transaction->platform().files.ReplaceWholeFile(data, "new"));
    // Killed here: nothing more of the run happens.
  }
  const std::string journal = scratch.Path() + "\\" + kJournalFileName;
  EXPECT_EQ(files.ReadProtectedFile(journal).trust, FileTrust::ForeignOwner);
  EXPECT_EQ(RecoverInterruptedRun(real, scratch.Path()).kind, Recovery::Kind::Restored);
  EXPECT_EQ(files.ReadWholeFile(data), "old");
  EXPECT_FALSE(files.FileExists(journal));

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunAnchorKey, 0, READ_CONTROL, &key), ERROR_SUCCESS);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor),
            ERROR_SUCCESS);
  ASSERT_TRUE(dacl);
  EXPECT_EQ(dacl->AceCount, 2) << "the Administrators group and the system only";
  LocalFree(descriptor);
  RegCloseKey(key);
  // The journal's owner proved nothing here: the same version is applied again next time.
  EXPECT_TRUE(RepairDue(registry, scratch.Path()));
  EXPECT_TRUE(WriteRunAnchor(registry, scratch.Path(), RunAnchor{}));
}

}  // namespace
}  // namespace varno::fake
