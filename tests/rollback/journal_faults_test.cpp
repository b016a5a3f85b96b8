// The ways a run's end can go wrong that a kill at each step does not reach: a completion
// mark that is written but not flushed, a new control, backups that cannot go, a product
// file named like a backup, a package that is gone, and journals that an update did not
// write.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "app/form1.h"
#include "app/update_progress.h"
#include "package/archive_writer.h"
#include "platform/forwarding_files.h"
#include "rollback/rollback.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kTestInstallDir;

const std::string kInstall = kTestInstallDir;
const std::string kJournal = kInstall + "\\VarnoMaJ.journal";
const std::string kSystemControl = "C:\\WINDOWS\\system32\\Varxxlith.ocx";

// Lets a test reach into one kind of call on its way to the machine.
class Intercepted : public ForwardingFiles {
 public:
  using ForwardingFiles::ForwardingFiles;
  std::function<bool(const std::string&)> refuseRemoval = [](const std::string&) { return false; };
  std::function<bool(std::string_view)> appendWrittenButNotFlushed = [](std::string_view) { return false; };
  bool failNextFlushWait = false;

  bool RemoveFile(const std::string& path) override { return !refuseRemoval(path) && inner_.RemoveFile(path); }
  bool RemoveFileIfSame(const std::string& path, const FileId& id) override {
    return !refuseRemoval(path) && inner_.RemoveFileIfSame(path, id);
  }
  std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string& path, bool* ownerRefused) override {
    class File : public AppendingFile {
     public:
      File(std::unique_ptr<AppendingFile> inner, Intercepted& owner) : inner_(std::move(inner)), owner_(owner) {}
      bool Append(std::string_view bytes) override {
        return inner_->Append(bytes) && !owner_.appendWrittenButNotFlushed(bytes);
      }
      bool AppendFlushingLater(std::string_view bytes) override { return inner_->AppendFlushingLater(bytes); }
      bool WaitFlushed() override { return inner_->WaitFlushed() && !std::exchange(owner_.failNextFlushWait, false); }

     private:
      std::unique_ptr<AppendingFile> inner_;
      Intercepted& owner_;
    };
    auto file = inner_.CreateProtectedForAppending(path, ownerRefused);
    return file ? std::make_unique<File>(std::move(file), *this) : nullptr;
  }
};

class JournalFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    fake::AddShellFolders(machine);
    machine.files.AddFile(kInstall + "\\data.bin", "old data");
    fake::WritePackageDescription(machine, "2816090");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp",
                          ArchiveBytes({MemberFromBytes("data.bin", "new data"), MemberFromBytes("new.dll", "new")}));
  }
  void Run() {
    Platform platform = WithFiles(machine.platform(), files);
    RunApplication(platform, "WINDOWS NT");
  }
  std::string Log(const std::string& dir = kInstall) {
    return machine.files.Content(dir + "\\VarnoMaJLog.txt").value_or("");
  }

  fake::MemoryMachine machine;
  Intercepted files{machine.files};
};

// The mark reached the file but not the disk, and one file cannot be put back: the journal
// left must not say complete, or the next run would delete that file's backup.
TEST_F(JournalFaultsTest, ACommitMarkThatMayNotBeOnTheDiskNeverOutlivesAPartialRollback) {
  files.appendWrittenButNotFlushed = [](std::string_view bytes) { return bytes.starts_with("COMMITTED"); };
  files.refuseRemoval = [](const std::string& path) { return path.ends_with("new.dll"); };
  Run();
  const auto journal = machine.files.Content(kJournal);
  ASSERT_TRUE(journal) << Log();
  EXPECT_EQ(journal->find("COMMITTED"), std::string::npos) << *journal;

  files.refuseRemoval = [](const std::string&) { return false; };
  Platform platform = machine.platform();
  EXPECT_EQ(RecoverInterruptedRun(platform, kInstall).kind, Recovery::Kind::Restored);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "old data");
  EXPECT_FALSE(machine.files.FileExists(kInstall + "\\new.dll"));
}

// The control's registration wrote a class entry; a rollback takes it out before the new
// control goes, and puts an earlier control's back.
TEST_F(JournalFaultsTest, ARollbackUnregistersAControlThatWasNewAndRegistersAnEarlierOneAgain) {
  auto& control = machine.libraries.Add(kSystemControl);
  control.exports["DllRegisterServer"] = [this] {
    machine.registry.PutString(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{V}", "", "registered");
    return 0u;
  };
  control.exports["DllUnregisterServer"] = [this] {
    RegKey key = 0;
    machine.registry.OpenKey(kHkeyLocalMachine, "Software\\Classes\\CLSID", kKeyAllAccess, false, &key);
    machine.registry.DeleteSubKey(key, "{V}");
    machine.registry.CloseKey(key);
    return 0u;
  };
  files.appendWrittenButNotFlushed = [](std::string_view bytes) { return bytes.starts_with("COMMITTED"); };
  Run();
  EXPECT_FALSE(machine.files.FileExists(kSystemControl));
  EXPECT_FALSE(machine.registry.KeyExists(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{V}")) << machine.Dump();

  machine.files.AddFile(kSystemControl, "earlier control");
  machine.files.RemoveFile(kJournal);
  Run();
  EXPECT_EQ(machine.files.Content(kSystemControl), "earlier control");
  EXPECT_TRUE(machine.registry.KeyExists(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{V}")) << machine.Dump();
}

// A program still runs from the file the update replaced: its backup is deleted at the next
// start, and the next update is not held up by it.
TEST_F(JournalFaultsTest, ABackupThatCannotBeDeletedGoesAtTheNextStartAndBlocksNothing) {
  files.refuseRemoval = [](const std::string& path) { return path.find(".vrnundo") != std::string::npos; };
  Run();
  ASSERT_EQ(machine.files.removalsAtRestart.size(), 1u) << Log();
  EXPECT_NE(machine.files.removalsAtRestart[0].find("data.bin.vrnundo"), std::string::npos);
  EXPECT_FALSE(machine.files.FileExists(kJournal)) << Log();
  // The system's list of those deletions is on the disk before the journal goes.
  const auto& flushes = machine.registry.Flushes();
  EXPECT_NE(std::find(flushes.begin(), flushes.end(),
                      "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"),
            flushes.end());
}

// Where the system refuses that too, the journal stays, and the next run says what it could
// not remove instead of reporting the backups gone.
TEST_F(JournalFaultsTest, ABackupThatCannotGoAtAllIsReportedAndRemovedWhenItCan) {
  files.refuseRemoval = [](const std::string& path) { return path.find(".vrnundo") != std::string::npos; };
  machine.files.refuseRemovalAtRestart = true;
  Run();
  ASSERT_TRUE(machine.files.FileExists(kJournal)) << Log();
  Platform platform = WithFiles(machine.platform(), files);
  Recovery recovery = RecoverInterruptedRun(platform, kInstall);
  EXPECT_EQ(recovery.kind, Recovery::Kind::NotCleaned);
  ASSERT_EQ(recovery.failures.size(), 1u);
  EXPECT_NE(recovery.failures[0].find("data.bin.vrnundo"), std::string::npos);

  files.refuseRemoval = [](const std::string&) { return false; };
  recovery = RecoverInterruptedRun(platform, kInstall);
  EXPECT_EQ(recovery.kind, Recovery::Kind::Cleaned);
  EXPECT_FALSE(machine.files.FileExists(kJournal));
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "new data");
}

// A background flush that failed once is not forgotten: no later replacement is made on the
// strength of a record that may not be on the disk.
TEST_F(JournalFaultsTest, AFailedFlushOfTheJournalRefusesEveryLaterChange) {
  Platform platform = WithFiles(machine.platform(), files);
  const auto transaction = UpdateTransaction::Begin(platform, kInstall);
  ASSERT_TRUE(transaction);
  FileSystem& journaled = transaction->platform().files;
  const auto first = journaled.CreateReplacement(kInstall + "\\data.bin");
  ASSERT_TRUE(first && first->Write("x", 1));
  files.failNextFlushWait = true;
  EXPECT_FALSE(first->Commit());
  EXPECT_FALSE(journaled.ReplaceWholeFile(kInstall + "\\new.dll", "new"));
  EXPECT_FALSE(machine.files.FileExists(kInstall + "\\new.dll"));
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "old data");
}

TEST_F(JournalFaultsTest, AProductFileNamedLikeABackupIsKept) {
  machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("data.bin", "new data"),
                                                                  MemberFromBytes("data.bin.vrnundo1", "product")}));
  Run();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin.vrnundo1"), "product") << machine.files.Dump();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "new data");
}

// "Run the updater again" recovers even when the package is gone.
TEST_F(JournalFaultsTest, AnInterruptedRunIsTakenBackWithoutAPackage) {
  machine.files.AddFile(kInstall + "\\data.bin.vrnundo1", "old data");
  machine.files.RemoveFile(kInstall + "\\data.bin");
  machine.files.AddFile(kJournal, "VARNOJOURNAL\t1\r\nSAVED\t" + kInstall + "\\data.bin\t" + kInstall +
                                      "\\data.bin.vrnundo1\r\n");
  machine.files.RemoveFile("C:\\Package\\MjaIni.ini");
  Run();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "old data");
  EXPECT_FALSE(machine.files.FileExists(kJournal));
  const std::string log = Log(fake::kTestDesktop);
  EXPECT_NE(log.find("Mise à jour annulée, installation restaurée"), std::string::npos) << log;
}

// A journal planted where ordinary users may write: one record outside what an update owns
// and nothing of it is done, the journal is set aside, and the run goes on.
TEST_F(JournalFaultsTest, AJournalNamingAnythingAnUpdateDoesNotOwnIsSetAsideWhole) {
  machine.files.AddFile("C:\\WINDOWS\\system32\\kernel.dll", "system");
  machine.files.AddFile(kInstall + "\\keep.txt", "mine");
  const std::string inside = "NEWFILE\t" + kInstall + "\\keep.txt\r\n";
  for (const std::string& outside : std::vector<std::string>{
           "NEWFILE\tC:\\WINDOWS\\system32\\kernel.dll",
           "NEWFILE\t" + kInstall + "\\..\\..\\..\\WINDOWS\\system32\\kernel.dll",
           "SAVED\t" + kInstall + "\\keep.txt\tC:\\WINDOWS\\system32\\kernel.dll",
           "MOVED\tC:\\WINDOWS\\system32\\kernel.dll\t" + kInstall + "\\k.dll",
           "NEWDIR\tC:\\WINDOWS",
           "TEMPDIR\tC:\\WINDOWS\\system32\\drivers",
           "NEWKEY\tHKLM\tSoftware\\Microsoft",
           "VALUE\tHKLM\tSoftware\\Microsoft\\Windows\\CurrentVersion\\Run\tx\t1\tC:\\evil.exe",
           "VALUE\tHKCU\tSoftware\\Tolmerik\\Varnolith\tx\t-",
           "CONTROL\tC:\\Users\\Public\\evil.dll",
       }) {
    machine.files.AddFile(kJournal, "VARNOJOURNAL\t1\r\n" + inside + outside + "\r\n");
    Platform platform = machine.platform();
    JournalScope scope{kInstall, kSystemControl, {fake::kTestCommonDesktop}};
    const Recovery recovery = RecoverInterruptedRun(platform, kInstall, &scope);
    EXPECT_EQ(recovery.kind, Recovery::Kind::SetAside) << outside;
    EXPECT_EQ(machine.files.Content("C:\\WINDOWS\\system32\\kernel.dll"), "system") << outside;
    EXPECT_EQ(machine.files.Content(kInstall + "\\keep.txt"), "mine") << outside;
    EXPECT_FALSE(machine.files.FileExists(kJournal)) << outside;
    EXPECT_TRUE(machine.files.FileExists(kJournal + ".ecarte")) << outside;
  }
  // An installation on a share is one like any other.
  JournalScope share{"\\\\serveur\\logiciels\\Varnolith", kSystemControl, {}};
  EXPECT_TRUE(WithinScope(MakeRecord(JournalRecord::Kind::NewFile, share.installDir + "\\a.dll"), share));
  EXPECT_FALSE(WithinScope(MakeRecord(JournalRecord::Kind::NewFile, share.installDir + "\\..\\a.dll"), share));

  // The run says why, and updates as if there had been none.
  machine.files.AddFile(kJournal, "VARNOJOURNAL\t1\r\nNEWFILE\tC:\\WINDOWS\\system32\\kernel.dll\r\n");
  Run();
  EXPECT_EQ(machine.files.Content("C:\\WINDOWS\\system32\\kernel.dll"), "system");
  EXPECT_NE(Log().find("Journal écarté sans être appliqué : il nomme ce qu'une mise à jour ne modifie pas : "
                       "C:\\WINDOWS\\system32\\kernel.dll"),
            std::string::npos)
      << Log();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "new data");
}

}  // namespace
}  // namespace varno
