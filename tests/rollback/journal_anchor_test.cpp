// A journal trusted for its anchor, on any volume: a run killed where the file system keeps
// no owner (FAT32) or shows another (a share) is recovered; a run whose journal could not be
// used is applied again, never reported as done; what others plant at the journal's place
// stops no recovery and no run.
#include <gtest/gtest.h>

#include "app/form1.h"
#include "app/update_scope.h"
#include "package/archive_writer.h"
#include "platform/forwarding_files.h"
#include "rollback/rollback.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using Volume = fake::MemoryFileSystem::VolumeKind;

const std::string kInstall = fake::kTestInstallDir;
const std::string kJournal = kInstall + "\\VarnoMaJ.journal";
const std::string kRecord = kInstall + "\\UninstCgg.slt";

// The process ends where it is: nothing after this runs, no rollback.
struct ProcessDied {};

// Dies when the run begins to save its uninstall record: every file and the new version are
// in place by then, the record and the commit are not.
class DyingFiles : public ForwardingFiles {
 public:
  using ForwardingFiles::ForwardingFiles;
  std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string& path, const std::string& temporary) override {
    if (AnsiSameText(path, kRecord)) throw ProcessDied{};
    return inner_.CreateReplacementNamed(path, temporary);
  }
};

class JournalAnchorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    fake::AddShellFolders(machine);
    machine.files.AddFile(kRecord, "[SurFile]\r\ndata.bin\r\n[****]\r\n");
    machine.files.AddFile(kInstall + "\\data.bin", "old data");
    fake::WritePackageDescription(machine, "2816090");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("data.bin", "new data")}));
  }
  std::string Log() { return machine.files.Content(kInstall + "\\VarnoMaJLog.txt").value_or(""); }
  std::string Version() { return machine.registry.Get(kHkeyLocalMachine, fake::kProductKey, "Version")->data.c_str(); }
  ExitCode Run(bool quiet = true) {
    Platform platform = machine.platform();
    RunOptions options;
    options.quiet = quiet;
    return RunApplication(platform, "WINDOWS NT", nullptr, options);
  }
  // A run killed half way: the new data and version in place, the run unfinished.
  void KillARun() {
    DyingFiles dying(machine.files);
    Platform platform = machine.platform();
    Platform killed{dying, platform.registry, platform.shell, platform.dialogs, platform.window, platform.processes,
                    platform.libraries, platform.system, platform.holders};
    RunOptions options;
    options.quiet = true;
    EXPECT_THROW(RunApplication(killed, "WINDOWS NT", nullptr, options), ProcessDied);
    machine.files = machine.files.AfterProcessDeath();
    machine.registry.CloseEveryKey();
    machine.window = fake::MemoryWindow();
    ASSERT_EQ(machine.files.Content(kInstall + "\\data.bin"), "new data");
    ASSERT_EQ(Version(), "2816090");
    ASSERT_TRUE(machine.files.FileExists(kJournal));
  }
  Recovery Recover() {
    Platform platform = machine.platform();
    const JournalScope scope = ScopeOfAnUpdate(platform, kInstall);
    return RecoverInterruptedRun(platform, kInstall, &scope);
  }
  void KillRecoverAndRetryOn(Volume volume);
  bool Anchored() { return machine.registry.KeyExists(kHkeyLocalMachine, kRunAnchorKey) &&
                           machine.registry.Get(kHkeyLocalMachine, kRunAnchorKey, AnsiUpperCase(kInstall)); }

  fake::MemoryMachine machine;
};

// Killed on a volume that drops owners and access lists, or on a share that shows the
// file as another account's: the journal's seals match its anchor, so the next run takes
// the installation back, then applies the package whole.
void JournalAnchorTest::KillRecoverAndRetryOn(Volume volume) {
  machine.files.SetVolumeKind("C:", volume);
  KillARun();
  EXPECT_EQ(Recover().kind, Recovery::Kind::Restored);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "old data");
  EXPECT_EQ(Version(), "2816080");
  EXPECT_FALSE(machine.files.FileExists(kJournal));
  // Nobody else could write a journal here: that it was whole is not proven, so an equal
  // version is no proof of a whole product either.
  EXPECT_TRUE(RepairDue(machine.registry, kInstall));
  EXPECT_EQ(Run(), ExitCode::kSuccess) << Log();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "new data") << Log();
  EXPECT_FALSE(Anchored()) << machine.registry.Dump();
}

TEST_F(JournalAnchorTest, ARunKilledOnFat32IsRecoveredThenAppliedWhole) { KillRecoverAndRetryOn(Volume::NoAccessLists); }
TEST_F(JournalAnchorTest, ARunKilledOnAShareIsRecoveredThenAppliedWhole) { KillRecoverAndRetryOn(Volume::Share); }

// The journal of a killed run deleted or renamed away (anyone may on FAT32), then put back:
// the retry of the same package applies it again instead of finding it "already effective",
// and the journal put back stops nothing.
TEST_F(JournalAnchorTest, AHalfUpdatedProductWhoseJournalWasLostIsNeverReportedDone) {
  machine.files.SetVolumeKind("C:", Volume::NoAccessLists);
  KillARun();
  ASSERT_TRUE(machine.files.MoveFileTo(kJournal, kInstall + "\\hidden"));
  machine.files.AddFile(kInstall + "\\data.bin", "half");
  EXPECT_EQ(Recover().kind, Recovery::Kind::Lost);
  ASSERT_TRUE(machine.files.MoveFileTo(kInstall + "\\hidden", kJournal));
  EXPECT_EQ(Run(), ExitCode::kSuccess) << Log();
  EXPECT_NE(Log().find("la mise à jour est appliquée de nouveau en entier"), std::string::npos) << Log();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "new data") << Log();
  EXPECT_FALSE(machine.files.FileExists(kJournal)) << Log();
  EXPECT_FALSE(Anchored());
  // Repaired once, the same package is again a clean no-op.
  machine.window = fake::MemoryWindow();
  machine.files.AddFile(kInstall + "\\data.bin", "mine");
  EXPECT_EQ(Run(), ExitCode::kSuccess);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "mine");

}

// A retry that fails takes back the half-updated product: still to be repaired.
TEST_F(JournalAnchorTest, AFailedRepairLeavesTheRepairDue) {
  KillARun();
  ASSERT_TRUE(machine.files.RemoveFile(kJournal));
  EXPECT_EQ(Recover().kind, Recovery::Kind::Lost);
  // The control's registration fails: the run is taken back.
  machine.libraries.Add(machine.system.systemDirectory + "\\Varxxlith.ocx").exports["DllRegisterServer"] = [] {
    return 1u;
  };
  EXPECT_NE(Run(), ExitCode::kSuccess) << Log();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "new data") << "the half-updated product, as it was";
  EXPECT_TRUE(RepairDue(machine.registry, kInstall)) << Log();
}

// Where the Administrators group cannot own the journal, the run refuses before any change.
TEST_F(JournalAnchorTest, AShareThatRefusesTheAdministratorsOwnerChangesNothing) {
  machine.files.SetVolumeKind("C:", Volume::ShareRefusingOwner);
  const std::string before = machine.Dump();
  EXPECT_EQ(Run(), ExitCode::kFailed) << Log();
  EXPECT_NE(Log().find("le groupe Administrateurs ne peut pas en être propriétaire"), std::string::npos) << Log();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "old data");
  EXPECT_EQ(Version(), "2816080");
  EXPECT_FALSE(Anchored());
  EXPECT_FALSE(machine.files.FileExists(kJournal));
}

// Planted by the administrator's own account running without elevation, or written whole
// with a run's format but no anchor, or anchored under a key a user could write: nothing of
// it is done.
TEST_F(JournalAnchorTest, AJournalNoElevatedRunAnchoredIsSetAside) {
  const std::string attack = "VARNOJOURNAL\t2\r\nNEWFILE\t" + kInstall + "\\Varnolith.exe\r\n";
  machine.files.PlantAsSameAccountUnelevated(kJournal, attack);
  Recovery recovery = Recover();
  EXPECT_EQ(recovery.kind, Recovery::Kind::Untrusted);
  EXPECT_EQ(recovery.trust, FileTrust::ForeignOwner);
  EXPECT_TRUE(machine.files.FileExists(kInstall + "\\Varnolith.exe"));

  // A journal of this version copied from another run: its anchor is gone.
  KillARun();
  const std::string sealed = *machine.files.Content(kJournal);
  ASSERT_EQ(Recover().kind, Recovery::Kind::Restored);
  machine.files.AddFile(kInstall + "\\data.bin", "user's");
  machine.files.AddFile(kJournal, sealed);
  recovery = Recover();
  EXPECT_EQ(recovery.kind, Recovery::Kind::Untrusted);
  EXPECT_TRUE(recovery.unanchored);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "user's");

  // An anchor key a user made first authenticates nothing, and no run begins under it.
  machine.registry.SetKeyOpenToUsers(kRunAnchorKey);
  machine.files.AddFile(kJournal, sealed);
  EXPECT_EQ(Recover().kind, Recovery::Kind::Untrusted);
  machine.window = fake::MemoryWindow();
  EXPECT_NE(Run(), ExitCode::kSuccess);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "user's") << Log();
}

// A second name on the journal, a directory at its place or at its ".ecarte": the genuine
// recovery still happens, and the run goes on.
TEST_F(JournalAnchorTest, WhatOthersPlantAtTheJournalsPlaceStopsNoRecoveryAndNoRun) {
  KillARun();
  machine.files.AddExtraName(kJournal);
  EXPECT_EQ(Recover().kind, Recovery::Kind::Restored);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "old data");

  // A directory where the journal goes, and one where a journal set aside goes.
  machine.files.AddFile(kJournal + "\\x.txt", "user's");
  machine.files.AddDirectory(kJournal + ".ecarte");
  machine.files.AddDirectory(kJournal + ".tmp");
  machine.window = fake::MemoryWindow();
  EXPECT_EQ(Run(), ExitCode::kSuccess) << Log();
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "new data") << Log();
  EXPECT_NE(Log().find("Élément étranger à la place du journal, mis de côté : " + kJournal + ".ecarte-"),
            std::string::npos)
      << Log();
  EXPECT_FALSE(machine.files.FileExists(kJournal));

  // An untrusted journal goes aside under a name of its own when ".ecarte" is taken.
  machine.files.PlantAsStandardUser(kJournal, "VARNOJOURNAL\t2\r\n");
  EXPECT_EQ(Recover().kind, Recovery::Kind::Untrusted);
  EXPECT_FALSE(machine.files.FileExists(kJournal));
  EXPECT_TRUE(Recover().failures.empty());
}

// A journal another program holds open cannot be read now: kept with its anchor for a
// later run, and meanwhile the same package is no proof of a whole product.
TEST_F(JournalAnchorTest, AJournalThatCannotBeReadNowIsKeptForALaterRun) {
  KillARun();
  machine.files.SetInUse(kJournal);
  EXPECT_EQ(Recover().kind, Recovery::Kind::Incomplete);
  EXPECT_TRUE(machine.files.FileExists(kJournal));
  EXPECT_TRUE(RepairDue(machine.registry, kInstall));
  machine.files.SetInUse(kJournal, false);
  EXPECT_EQ(Recover().kind, Recovery::Kind::Restored);
  EXPECT_EQ(machine.files.Content(kInstall + "\\data.bin"), "old data");
}

// The uninstall record read through a second name would copy another file into the
// installation: it is not read, and the run writes a record of its own.
TEST_F(JournalAnchorTest, AnUninstallRecordWithASecondNameIsNotRead) {
  machine.files.AddFile(kRecord, "secret of another file\r\n");
  machine.files.AddExtraName(kRecord);
  EXPECT_EQ(Run(), ExitCode::kSuccess) << Log();
  EXPECT_NE(Log().find("Fichier de désinstallation non lu"), std::string::npos) << Log();
  EXPECT_EQ(machine.files.Content(kRecord).value_or("").find("secret"), std::string::npos);
}

}  // namespace
}  // namespace varno
