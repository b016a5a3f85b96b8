// Whether a journal is acted on: who wrote it, what each record may name, whether a line
// is the one the run wrote, and that the run itself never reads its journal back.
#include <gtest/gtest.h>

#include "app/form1.h"
#include "app/update_scope.h"
#include "package/archive_writer.h"
#include "platform/portable_sha256.h"
#include "rollback/rollback.h"
#include "steps/delete_step.h"
#include "steps/delta_step.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using Kind = JournalRecord::Kind;

const std::string kInstall = fake::kTestInstallDir;
const std::string kJournal = kInstall + "\\VarnoMaJ.journal";
const std::string kControl = "C:\\WINDOWS\\system32\\Varxxlith.ocx";
const std::string kEvil = kInstall + "\\evil.dll";
const std::string kProfileList = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

class JournalTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    fake::AddShellFolders(machine);
    machine.registry.PutString(kHkeyLocalMachine, kProfileList, "ProfilesDirectory", "%SystemDrive%\\Users");
    fake::WritePackageDescription(machine, "2816090");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("data.bin", "new data")}));
    machine.files.AddFile(kControl, "real control");
    machine.files.AddFile(kEvil, "attacker's code");
  }
  std::string Log() { return machine.files.Content(kInstall + "\\VarnoMaJLog.txt").value_or(""); }
  Recovery Recover() {
    Platform platform = machine.platform();
    const JournalScope scope = ScopeOfAnUpdate(platform, kInstall);
    return RecoverInterruptedRun(platform, kInstall, &scope);
  }
  // A journal as a run writes it, with these records after its first.
  void WriteJournal(std::initializer_list<JournalRecord> records) {
    auto journal = BeginAnchoredJournal(machine.files, machine.registry, kInstall, kJournal);
    ASSERT_TRUE(journal);
    for (const JournalRecord& record : records) ASSERT_TRUE(journal->Append(record));
  }

  fake::MemoryMachine machine;
};

// Undone last to first, these would delete the control, rename the attacker's library onto
// its name and load it to unregister it, with the updater's rights.
const std::string kControlAttack = "VARNOJOURNAL\t2\r\nCONTROL\t" + kControl + "\r\nMOVED\t" + kControl + "\t" + kEvil +
                                   "\r\nNEWFILE\t" + kControl + "\r\n";

TEST_F(JournalTrustTest, AJournalAStandardUserPlantedIsSetAsideAndLoadsNothing) {
  machine.files.PlantAsStandardUser(kJournal, kControlAttack);
  Platform platform = machine.platform();
  RunApplication(platform, "WINDOWS NT");
  EXPECT_EQ(machine.files.Content(kEvil), "attacker's code") << Log();
  EXPECT_EQ(machine.files.Content(kControl), "MZ") << "the update's own control";
  EXPECT_NE(Log().find("Journal écarté sans être appliqué : il n'est pas celui d'une mise à jour exécutée en "
                       "administrateur (son propriétaire n'est pas un administrateur) : " + kInstall),
            std::string::npos)
      << Log();
  EXPECT_TRUE(machine.files.FileExists(kJournal + ".ecarte"));

  // An administrator's file that others may write, or a link, is no better.
  machine.files.AddFile(kJournal, kControlAttack);
  machine.files.SetOwner(kJournal, fake::MemoryFileSystem::Owner::Administrators, true);
  EXPECT_EQ(Recover().trust, FileTrust::WritableByOthers);
  // A link at the journal's place is nobody's journal: moved aside, never read.
  machine.files.AddFile(kJournal, kControlAttack);
  machine.files.SetLinked(kJournal);
  const Recovery linked = Recover();
  EXPECT_EQ(linked.kind, Recovery::Kind::None);
  EXPECT_EQ(linked.movedAside.size(), 1u);
  EXPECT_FALSE(machine.files.FileExists(kJournal));
  EXPECT_EQ(machine.files.Content(kEvil), "attacker's code");
}

// Even as an administrator's own file, a rename that is not a shortcut's within its folder
// is no record of an update: the control attack, and a shortcut planted in everyone's
// Startup folder.
TEST_F(JournalTrustTest, ARenameOtherThanAShortcutsWithinItsFolderIsOutOfScope) {
  const std::string startup = std::string(fake::kTestCommonPrograms) + "\\Startup\\evil.lnk";
  for (const std::string& journal :
       {kControlAttack, "VARNOJOURNAL\t2\r\nMOVED\t" + startup + "\t" + kInstall + "\\evil.lnk\r\n"}) {
    machine.files.AddFile(kJournal, journal);
    machine.files.AddFile(kInstall + "\\evil.lnk", "link");
    EXPECT_EQ(Recover().kind, Recovery::Kind::SetAside) << journal;
    EXPECT_EQ(machine.files.Content(kControl), "real control");
    EXPECT_TRUE(machine.files.FileExists(kEvil));
    EXPECT_FALSE(machine.files.FileExists(startup));
    EXPECT_TRUE(machine.libraries.loaded.empty());
  }
}

// A run killed under one account, recovered under another or by the system: shortcuts of
// any profile are the update's, on an English or a French machine.
TEST_F(JournalTrustTest, AnyAccountRecoversARunKilledUnderAnother) {
  for (const std::string& desktop : {"C:\\Users\\alice\\Desktop", "C:\\Users\\alice\\Bureau"}) {
    machine.files.AddFile(desktop + "\\Varnolith 2.9.lnk", "link");
    WriteJournal({MakeRecord(Kind::Moved, desktop + "\\Varnolith 2.8.lnk", desktop + "\\Varnolith 2.9.lnk")});
    EXPECT_EQ(Recover().kind, Recovery::Kind::Restored) << desktop;
    EXPECT_TRUE(machine.files.FileExists(desktop + "\\Varnolith 2.8.lnk")) << desktop;
  }
  // The system account has no shell folders of its own.
  RegKey key = 0;
  ASSERT_EQ(machine.registry.OpenKey(kHkeyCurrentUser, fake::kShellFoldersKey, kKeyAllAccess, false, &key), kRegSuccess);
  machine.registry.DeleteValue(key, "Desktop");
  machine.registry.CloseKey(key);
  const std::string pierre = std::string(fake::kTestDesktop) + "\\Varnolith 2.9.lnk";
  machine.files.AddFile(pierre, "link");
  WriteJournal({MakeRecord(Kind::Moved, std::string(fake::kTestDesktop) + "\\Varnolith 2.8.lnk", pierre)});
  EXPECT_EQ(Recover().kind, Recovery::Kind::Restored);
}

// A line is read only when it carries the run's tag and follows the very line it followed
// when written: what a file system shows of old bytes after a cut is never undone.
TEST_F(JournalTrustTest, ReadingStopsAtTheFirstLineThatIsNotTheRunsOwn) {
  WriteJournal({MakeRecord(Kind::NewFile, kInstall + "\\a.dll"), MakeRecord(Kind::NewFile, kInstall + "\\b.dll")});
  const std::string written = *machine.files.Content(kJournal);
  const std::string key = ReadRunAnchor(machine.registry, kInstall)->key;
  const auto ParseJournal = [&key](std::string_view bytes) { return varno::ParseJournal(bytes, key); };
  ASSERT_EQ(ParseJournal(written)->size(), 3u);
  // Sealed under the run's key: without it nothing is read, under another key no line.
  EXPECT_FALSE(varno::ParseJournal(written));
  EXPECT_TRUE(varno::ParseJournal(written, std::string(32, 'k'))->empty());
  const size_t first = written.find("\r\n") + 2, second = written.find("\r\n", first) + 2,
               third = written.find("\r\n", second) + 2;
  const std::string a = written.substr(second, third - second), b = written.substr(third);
  EXPECT_EQ(ParseJournal(written + "NEWFILE\t" + kEvil + "\r\n")->size(), 3u) << "a line without its seal";
  EXPECT_EQ(ParseJournal(written + "NEWFI\r\n" + b)->size(), 3u) << "a readable line after one that is not";
  EXPECT_EQ(ParseJournal(written.substr(0, second) + b + a)->size(), 1u) << "lines out of their order";
  std::string changed = written;
  changed.replace(changed.find("a.dll"), 5, "e.dll");
  EXPECT_EQ(ParseJournal(changed)->size(), 1u) << "a line changed";
  EXPECT_FALSE(ParseJournal(written.substr(first))) << "no header";
}

// The run acts on the records it wrote: a journal replaced on the disk meanwhile is not read.
TEST_F(JournalTrustTest, TheRollbackUndoesWhatTheRunWroteNotWhatTheFileSaysThen) {
  machine.files.AddFile(kInstall + "\\data.bin", "old data");
  machine.files.AddFile(kInstall + "\\keep.txt", "mine");
  Platform real = machine.platform();
  auto transaction = UpdateTransaction::Begin(real, kInstall);
  ASSERT_TRUE(transaction);
  ASSERT_TRUE(transaction->platform().files.ReplaceWholeFile(kInstall + "\\data.bin", "new data"));
  machine.files.AddFile(kJournal, "VARNOJOURNAL\t2\r\nNEWFILE\t" + kInstall + "\\keep.txt\r\n");
  EXPECT_TRUE(transaction->Rollback().empty());
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "old data");
  EXPECT_EQ(machine.files.Content(kInstall + "\\keep.txt"), "mine");
}

// The shell saves a shortcut without flushing it; the run flushes it before its commit, so
// a power cut after a completed run finds every shortcut whole.
TEST_F(JournalTrustTest, AShortcutSavedByTheRunSurvivesAPowerCutAfterIt) {
  fake::WritePackageDescription(machine, "2816090", "[desk]\r\nVarnolith.exe: Varnolith Pro\r\n");
  Platform platform = machine.platform();
  RunApplication(platform, "WINDOWS NT");
  ASSERT_FALSE(machine.shell.saves.empty()) << Log();
  const auto after = machine.files.AfterPowerCut(fake::MemoryFileSystem::PowerCut::Likely);
  for (const auto& save : machine.shell.saves) {
    EXPECT_EQ(after.Content(save.path), machine.files.Content(save.path)) << save.path;
    EXPECT_FALSE(after.Content(save.path).value_or("").empty()) << save.path;
  }
}

// A directory of the installation, or of a shortcut folder, that became a junction to the
// system directory: neither the undo of a record below it, nor an archive's member, a removal
// or a delta's file lands in its target.
TEST_F(JournalTrustTest, NothingIsChangedThroughADirectoryThatIsALink) {
  const std::string linked = kInstall + "\\j";
  machine.files.AddFile(linked + "\\victim.dll", "system's");
  machine.files.SetLinked(linked);
  // The same below a shortcut folder: a program group that became a junction.
  const std::string group = std::string(fake::kTestCommonPrograms) + "\\Varnolith";
  machine.files.AddFile(group + "\\victim.lnk", "someone's");
  machine.files.SetLinked(group);
  WriteJournal({MakeRecord(Kind::NewFile, linked + "\\victim.dll"), MakeRecord(Kind::NewFile, group + "\\victim.lnk")});
  const Recovery recovery = Recover();
  EXPECT_EQ(recovery.kind, Recovery::Kind::Incomplete);
  EXPECT_EQ(machine.files.Content(linked + "\\victim.dll"), "system's");
  EXPECT_EQ(machine.files.Content(group + "\\victim.lnk"), "someone's");
  machine.files.RemoveFile(kJournal);

  // The installed file differs from the delta's source, so the whole file the package
  // carries would be written in its place.
  const std::string other = BytesSha256Hex("another release's"), made = BytesSha256Hex("planted");
  fake::WritePackageDescription(machine, "2816090",
                                "[insubdir]\r\nj : pics.slp\r\n[delete]\r\nj\\gone.dll\r\n[delta]\r\nj\\victim.dll|" +
                                    other + "|" + made + "\r\n");
  machine.files.AddFile("C:\\Package\\pics.slp", ArchiveBytes({MemberFromBytes("planted.dll", "x")}));
  machine.files.AddFile(linked + "\\gone.dll", "system's too");
  machine.files.AddFile("C:\\Package\\sor_full.slp", ArchiveBytes({MemberFromBytes("j\\victim.dll", "planted")}));
  Platform platform = machine.platform();
  RunApplication(platform, "WINDOWS NT");
  EXPECT_EQ(machine.files.Content(linked + "\\victim.dll"), "system's") << Log();
  EXPECT_EQ(machine.files.Content(linked + "\\gone.dll"), "system's too") << Log();
  EXPECT_FALSE(machine.files.FileExists(linked + "\\planted.dll")) << Log();
}

// Names Windows reads as others are refused in "[delete]" and "[delta]" as in archives.
TEST(JournalTrustNames, NamesWindowsReadsAsOthersAreRefused) {
  for (const char* path : {"old.dll.", "old.dll ", "sub \\old.dll", "NUL.txt", "com1", "UNINST~1.SLT", "VARNOM~2.JOU"}) {
    EXPECT_TRUE(CheckDeletePath(path)) << path;
    EXPECT_FALSE(ParseDeltaLine(std::string(path) + "|" + std::string(64, 'a') + "|" + std::string(64, 'b'))) << path;
  }
  EXPECT_FALSE(CheckDeletePath("sub\\old.dll"));
  const JournalScope scope{kInstall, kControl, {}};
  for (const std::string& path : {kInstall + "\\x\\.. \\..\\evil.dll", kInstall + "\\...\\evil.dll"}) {
    EXPECT_FALSE(WithinScope(MakeRecord(Kind::NewFile, path), scope)) << path;
  }
  EXPECT_FALSE(CheckDeletePath("CONFIG.dll"));
}

}  // namespace
}  // namespace varno
