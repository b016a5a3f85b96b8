// A whole update, with its N-th change failing, with the process dying just before it (the
// machine as it stands then, temporary files included, and nothing more of that process),
// or with the power cut then (what was not flushed lost), for every N from the first change
// to the last: the next run finds the installation as it was before the run or as the
// completed run left it, with nothing of the run left over.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "app/form1.h"
#include "app/update_progress.h"
#include "package/archive_writer.h"
#include "platform/forwarding_files.h"
#include "platform/held_directories.h"
#include "rollback/rollback.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"
#include "support/shell_link_bytes.h"

namespace varno {
namespace {

// The installation the sweeps update: the usual one on C:, or one on D: while the control
// and the shortcuts stay on C:.
std::string kTestInstallDir = fake::kTestInstallDir;

// The process ends where it is: nothing after this runs, no rollback.
struct ProcessDied {};

// Counts every change that reaches the machine and makes the N-th one fail, or die.
struct Faults {
  int failAt = 0;
  int dieAt = 0;
  int changes = 0;
  // The changes that began the journal and marked it complete: the promise holds between.
  int journalBegun = 0;
  int committed = 0;
  // Takes the machine's state at the instant of death, before anything unwinds.
  std::function<void()> atDeath;
  bool Allow() {
    ++changes;
    if (changes == dieAt) {
      if (atDeath) atDeath();
      throw ProcessDied{};
    }
    return changes != failAt;
  }
};

class FaultyOutput : public OutputFile {
 public:
  FaultyOutput(std::unique_ptr<OutputFile> inner, Faults& faults) : inner_(std::move(inner)), faults_(faults) {}
  bool Write(const char* data, size_t size) override { return inner_->Write(data, size); }
  bool Finish() override { return inner_->Finish(); }
  bool Commit() override { return faults_.Allow() && inner_->Commit(); }

 private:
  std::unique_ptr<OutputFile> inner_;
  Faults& faults_;
};

class FaultyAppending : public AppendingFile {
 public:
  FaultyAppending(std::unique_ptr<AppendingFile> inner, Faults& faults) : inner_(std::move(inner)), faults_(faults) {}
  bool Append(std::string_view bytes) override {
    if (bytes.starts_with("VARNOJOURNAL")) faults_.journalBegun = faults_.changes + 1;
    if (bytes.starts_with("COMMITTED")) faults_.committed = faults_.changes + 1;
    return faults_.Allow() && inner_->Append(bytes);
  }
  // A record announced without its flush, and that flush, which may take several records at
  // once, are changes of their own: each may fail, or the process may die before it ends.
  bool AppendFlushingLater(std::string_view bytes) override {
    return faults_.Allow() && inner_->AppendFlushingLater(bytes);
  }
  bool WaitFlushed() override {
    return faults_.Allow() && inner_->WaitFlushed();
  }

 private:
  std::unique_ptr<AppendingFile> inner_;
  Faults& faults_;
};

class FaultyFiles : public ForwardingFiles {
 public:
  FaultyFiles(FileSystem& inner, Faults& faults) : ForwardingFiles(inner), faults_(faults) {}
  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override {
    auto output = inner_.CreateReplacement(path);
    return output ? std::make_unique<FaultyOutput>(std::move(output), faults_) : nullptr;
  }
  std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string& path, const std::string& temporary) override {
    if (!faults_.Allow()) return nullptr;
    auto output = inner_.CreateReplacementNamed(path, temporary);
    return output ? std::make_unique<FaultyOutput>(std::move(output), faults_) : nullptr;
  }
  std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string& path, bool* ownerRefused) override {
    auto file = inner_.CreateProtectedForAppending(path, ownerRefused);
    return file ? std::make_unique<FaultyAppending>(std::move(file), faults_) : nullptr;
  }
  bool CopyFileTo(const std::string& from, const std::string& to) override { return FileSystem::CopyFileTo(from, to); }
  bool MoveFileTo(const std::string& from, const std::string& to) override {
    return faults_.Allow() && inner_.MoveFileTo(from, to);
  }
  bool MoveFileReplacing(const std::string& from, const std::string& to) override {
    return faults_.Allow() && inner_.MoveFileReplacing(from, to);
  }
  bool FlushFile(const std::string& path) override { return faults_.Allow() && inner_.FlushFile(path); }
  bool RemoveFile(const std::string& path) override { return faults_.Allow() && inner_.RemoveFile(path); }
  bool RemoveFileIfSame(const std::string& path, const FileId& id) override {
    return faults_.Allow() && inner_.RemoveFileIfSame(path, id);
  }
  bool MakeDirectory(const std::string& path) override { return faults_.Allow() && inner_.MakeDirectory(path); }
  HeldDirectoryOpen MakeHeldDirectory(const std::string& path) override {
    if (!faults_.Allow()) return {DirectoryHold::Refused, nullptr};
    return inner_.MakeHeldDirectory(path);
  }
  bool RemoveEmptyDirectory(const std::string& path) override { return faults_.Allow() && inner_.RemoveEmptyDirectory(path); }

 private:
  Faults& faults_;
};

class FaultyRegistry : public Registry {
 public:
  FaultyRegistry(Registry& inner, Faults& faults) : inner_(inner), faults_(faults) {}
  long OpenKey(RegKey parent, const std::string& path, uint32_t access, bool create, RegKey* key) override {
    if (create && !faults_.Allow()) return kRegAccessDenied;
    return inner_.OpenKey(parent, path, access, create, key);
  }
  void CloseKey(RegKey key) override { inner_.CloseKey(key); }
  long QueryValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) override {
    return inner_.QueryValue(key, name, type, data);
  }
  long SetValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) override {
    return faults_.Allow() ? inner_.SetValue(key, name, type, data) : kRegAccessDenied;
  }
  long DeleteValue(RegKey key, const std::string& name) override {
    return faults_.Allow() ? inner_.DeleteValue(key, name) : kRegAccessDenied;
  }
  long DeleteSubKey(RegKey key, const std::string& name) override {
    return faults_.Allow() ? inner_.DeleteSubKey(key, name) : kRegAccessDenied;
  }
  long SubKeyName(RegKey key, uint32_t index, std::string* name) override { return inner_.SubKeyName(key, index, name); }
  // The read that builds a value's undo record may fail too.
  long QueryRawValue(RegKey key, const std::string& name, uint32_t* type, std::string* data) override {
    if (!faults_.Allow()) return kRegAccessDenied;
    return inner_.QueryRawValue(key, name, type, data);
  }
  long SetRawValue(RegKey key, const std::string& name, uint32_t type, std::string_view data) override {
    return faults_.Allow() ? inner_.SetRawValue(key, name, type, data) : kRegAccessDenied;
  }
  // A flush may fail, or the process die while it waits, like any write.
  long FlushKey(RegKey key) override { return faults_.Allow() ? inner_.FlushKey(key) : kRegAccessDenied; }

 private:
  Registry& inner_;
  Faults& faults_;
};

class FaultyShell : public Shell {
 public:
  FaultyShell(Shell& inner, Faults& faults) : inner_(inner), faults_(faults) {}
  std::string SpecialFolderPath(int csidl) override { return inner_.SpecialFolderPath(csidl); }
  LinkSave SaveShellLink(const ShellLinkFields& link, const std::string& linkPath) override {
    return faults_.Allow() ? inner_.SaveShellLink(link, linkPath) : LinkSave::NotSaved;
  }

 private:
  Shell& inner_;
  Faults& faults_;
};

// Loading a library and calling its exports are changes too: a control's registration
// may fail, or the process die in it.
class FaultyLibraries : public Libraries {
 public:
  FaultyLibraries(Libraries& inner, Faults& faults) : inner_(inner), faults_(faults) {}
  LibraryHandle Load(const std::string& path) override { return faults_.Allow() ? inner_.Load(path) : 0; }
  std::optional<uint32_t> CallExport(LibraryHandle library, const std::string& name) override {
    if (!faults_.Allow()) return 1u;
    return inner_.CallExport(library, name);
  }
  void Free(LibraryHandle library) override { inner_.Free(library); }

 private:
  Libraries& inner_;
  Faults& faults_;
};

// An installation with a record, a shortcut to rename, a file the package replaces, and a
// package that makes directories, files, shortcuts and registry values.
void Prepare(fake::MemoryMachine& m) {
  fake::InstallProduct(m, kTestInstallDir);
  fake::AddShellFolders(m);
  m.files.AddFile(std::string(kTestInstallDir) + "\\UninstCgg.slt", "[SurFile]\r\nold.dll\r\n[****]\r\n");
  m.files.AddFile(std::string(kTestInstallDir) + "\\data.bin", "previous data");
  m.files.AddFile(std::string(fake::kTestCommonDesktop) + "\\Varnolith 2.8.lnk",
                  fake::ShellLinkBytes({std::string(kTestInstallDir) + "\\Varnolith.exe", "", ""}));
  m.registry.PutString(kHkeyLocalMachine, fake::kProductKey, "Port", "ancien");
  // The installer's entry, whose version shown the run changes.
  m.registry.PutString(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Varnolith",
                       "InstallLocation", kTestInstallDir);
  fake::WritePackageDescription(
      m, "2816090",
      "[subdir]\r\nData\r\nData\\Sub\r\n[insubdir]\r\nData\\Sub : pics.slp\r\n[desk]\r\nVarnolith.exe: Varnolith Pro\r\n"
      "[reg]\r\nPort: integer; 8080\r\nNom: string; x\r\n[delete]\r\nVieux\\ancien.txt\r\nVieux\r\n");
  m.files.AddFile(std::string(kTestInstallDir) + "\\Vieux\\ancien.txt", "retired");
  m.files.AddFile("C:\\Package\\sor_ti1.slp",
                  ArchiveBytes({MemberFromBytes("new.dll", "new"), MemberFromBytes("data.bin", "new data")}));
  m.files.AddFile("C:\\Package\\pics.slp", ArchiveBytes({MemberFromBytes("logo.bmp", "BM")}));
}

// The machine as the installation sees it: every file but the run log, the registry; not
// the boxes and the window, nor the database level, which the update sets after its commit
// point and never takes back, nor the key that anchors runs (which the sweeps check apart).
std::string State(fake::MemoryMachine& m) {
  std::istringstream lines(m.Dump());
  std::string state, line;
  bool anchorKey = false;
  while (std::getline(lines, line) && line != "--- boxes") {
    if (line.starts_with("[")) anchorKey = AnsiSameText(line, "[HKEY_LOCAL_MACHINE\\" + std::string(kRunAnchorKey) + "]");
    if (anchorKey) continue;
    if (line.find("VarnoMaJLog.txt") != std::string::npos || line.find("VarnoInst") != std::string::npos) continue;
    state += line + "\n";
    // Every byte of every file, not its size only.
    if (line.starts_with("[file] ")) {
      const std::string path = line.substr(7, line.rfind(" (") - 7);
      state += "  = " + m.files.Content(path).value_or("?") + "\n";
    }
  }
  return state;
}

void RunUpdater(fake::MemoryMachine& m, Faults& faults) {
  FaultyFiles files(m.files, faults);
  FaultyRegistry registry(m.registry, faults);
  FaultyShell shell(m.shell, faults);
  FaultyLibraries libraries(m.libraries, faults);
  Platform platform{files, registry, shell, m.dialogs, m.window, m.processes, libraries, m.system, m.holders};
  RunApplication(platform, "WINDOWS NT");
}

// What the updater trusts a journal with on this machine.
JournalScope Scope() {
  return {kTestInstallDir,
          "C:\\WINDOWS\\system32\\Varxxlith.ocx",
          {fake::kTestCommonDesktop, fake::kTestCommonPrograms, std::string(fake::kTestDesktop), fake::kTestUserPrograms}};
}

// A machine set up as Prepare does, holding what a run left on the disk and in the registry.
void TakeOver(fake::MemoryMachine& m, const fake::MemoryFileSystem& files, const fake::MemoryRegistry& registry) {
  Prepare(m);
  m.files = files;
  m.registry = registry;
  m.registry.CloseEveryKey();
}

bool Completed(fake::MemoryMachine& m) { return m.window.Visible(Control::Button1); }

// The changes a whole run makes, with the first that begins the journal and the one that
// marks it complete. Before the journal the run has changed nothing of the installation
// (the rights test's own key and the log are not part of it).
Faults ChangesOfAWholeRun() {
  fake::MemoryMachine m;
  Prepare(m);
  Faults counting;
  RunUpdater(m, counting);
  EXPECT_TRUE(Completed(m)) << m.Dump();
  EXPECT_FALSE(m.files.DirectoryExists(std::string(kTestInstallDir) + "\\Vieux")) << "[delete] was applied";
  EXPECT_GT(counting.committed, counting.journalBegun + 20);
  return counting;
}

TEST(AllOrNothing, EveryChangeThatFailsLeavesTheInstallationAsBefore) {
  const Faults whole = ChangesOfAWholeRun();
  const int changes = whole.committed;
  for (int n = whole.journalBegun; n <= changes; ++n) {
    fake::MemoryMachine machine;
    Prepare(machine);
    const std::string before = State(machine);
    Faults faults;
    faults.failAt = n;
    RunUpdater(machine, faults);
    if (Completed(machine)) {
      // A change the run may pass over (a shortcut that cannot be saved): no leftovers.
      EXPECT_EQ(State(machine).find(".vrnundo"), std::string::npos) << "change " << n;
      EXPECT_FALSE(machine.files.FileExists(std::string(kTestInstallDir) + "\\VarnoMaJ.journal")) << "change " << n;
    } else {
      EXPECT_EQ(State(machine), before) << "the change that failed: " << n << " of " << changes;
    }
  }
}

struct Interruption {
  const char* what;
  // The disk and the registry as the next start finds them.
  std::function<void(fake::MemoryMachine& dying, fake::MemoryMachine& next)> leave;
};

const Interruption kInterruptions[] = {
    {"killed",
     [](fake::MemoryMachine& dying, fake::MemoryMachine& next) {
       TakeOver(next, dying.files.AfterProcessDeath(), dying.registry);
     }},
    // The registry's lazy flush had written every change (it runs every few seconds).
    {"power cut, likely state",
     [](fake::MemoryMachine& dying, fake::MemoryMachine& next) {
       fake::MemoryRegistry registry = dying.registry;
       registry.PowerCut(registry.UnflushedChanges());
       TakeOver(next, dying.files.AfterPowerCut(fake::MemoryFileSystem::PowerCut::Likely), registry);
     }},
    // Nothing that was not flushed survives, in the files or in the registry.
    {"power cut, worst state",
     [](fake::MemoryMachine& dying, fake::MemoryMachine& next) {
       fake::MemoryRegistry registry = dying.registry;
       registry.PowerCut(0);
       TakeOver(next, dying.files.AfterPowerCut(fake::MemoryFileSystem::PowerCut::Worst), registry);
     }},
    // Each volume keeps its own log: one loses what was not flushed on it, the other not.
    {"power cut, worst on C: only",
     [](fake::MemoryMachine& dying, fake::MemoryMachine& next) {
       fake::MemoryRegistry registry = dying.registry;
       registry.PowerCut(registry.UnflushedChanges());
       using Cut = fake::MemoryFileSystem::PowerCut;
       TakeOver(next, dying.files.AfterPowerCut({{"C:", Cut::Worst}}, Cut::Likely), registry);
     }},
    {"power cut, worst on D: only",
     [](fake::MemoryMachine& dying, fake::MemoryMachine& next) {
       fake::MemoryRegistry registry = dying.registry;
       registry.PowerCut(0);
       using Cut = fake::MemoryFileSystem::PowerCut;
       TakeOver(next, dying.files.AfterPowerCut({{"D:", Cut::Worst}}, Cut::Likely), registry);
     }},
};

void SweepEveryChange() {
  const JournalScope scope = Scope();
  fake::MemoryMachine reference;
  Prepare(reference);
  Platform referencePlatform = reference.platform();
  RunApplication(referencePlatform, "WINDOWS NT");
  const std::string completed = State(reference);
  const Faults whole = ChangesOfAWholeRun();
  const int changes = whole.changes;

  for (const Interruption& interruption : kInterruptions) {
    for (int n = whole.journalBegun; n <= changes; ++n) {
      fake::MemoryMachine dying;
      Prepare(dying);
      const std::string before = State(dying);
      fake::MemoryMachine machine;
      Faults faults;
      faults.dieAt = n;
      faults.atDeath = [&] { interruption.leave(dying, machine); };
      EXPECT_THROW(RunUpdater(dying, faults), ProcessDied) << n;

      Platform platform = machine.platform();
      const Recovery recovery = RecoverInterruptedRun(platform, kTestInstallDir, &scope);
      EXPECT_TRUE(recovery.failures.empty()) << interruption.what << " at change " << n;
      // No run is left under way; an installation restored or completed needs no repair,
      // unless the power went before the anchor could say the run had ended.
      const auto anchor = ReadRunAnchor(machine.registry, kTestInstallDir);
      EXPECT_TRUE(anchor && !anchor->HasRun()) << interruption.what << " at change " << n;
      const std::string recovered = State(machine);
      EXPECT_TRUE(recovered == before || recovered == completed)
          << interruption.what << " at change " << n << " of " << changes << "\n--- recovered\n"
          << recovered << "--- before\n" << before << "--- completed\n" << completed;
      // Before the mark was written a killed run is always taken back.
      if (n < whole.committed) EXPECT_EQ(recovered, before) << interruption.what << " at change " << n;
      // The recovery done, the power goes: what it put back stays, on every volume.
      fake::MemoryMachine cut;
      interruption.leave(machine, cut);
      Platform cutPlatform = cut.platform();
      EXPECT_TRUE(RecoverInterruptedRun(cutPlatform, kTestInstallDir, &scope).failures.empty());
      EXPECT_EQ(State(cut), recovered) << interruption.what << " at change " << n << ", after the recovery";

      // The next whole run then completes, whatever was left.
      machine.window = fake::MemoryWindow();
      RunApplication(platform, "WINDOWS NT");
      EXPECT_TRUE(Completed(machine)) << interruption.what << " at change " << n << "\n" << machine.Dump();
    }
    // A run that completed, then the power went.
    fake::MemoryMachine dying, machine;
    Prepare(dying);
    Platform dyingPlatform = dying.platform();
    RunApplication(dyingPlatform, "WINDOWS NT");
    interruption.leave(dying, machine);
    Platform platform = machine.platform();
    EXPECT_TRUE(RecoverInterruptedRun(platform, kTestInstallDir, &scope).failures.empty()) << interruption.what;
    EXPECT_EQ(State(machine), completed) << interruption.what << " after a completed run";
  }
}

TEST(AllOrNothing, AProcessKilledOrAPowerCutAtAnyChangeIsFinishedByTheNextRun) { SweepEveryChange(); }

// The installation and its journal on D:, the control and the shortcuts on C:: a flush on
// one volume makes nothing of the other durable.
TEST(AllOrNothing, WithTheInstallationOnAnotherVolumeEveryChangeIsFinishedByTheNextRun) {
  kTestInstallDir = "D:\\Produits\\Varnolith";
  SweepEveryChange();
  kTestInstallDir = fake::kTestInstallDir;
}

// Runs a recovery on the machine with its n-th change interrupted; false when it ran to its
// end before that, next then untouched.
bool RecoveryInterrupted(fake::MemoryMachine& machine, int n, const Interruption& interruption,
                         fake::MemoryMachine& next) {
  const JournalScope scope = Scope();
  Faults faults;
  faults.dieAt = n;
  faults.atDeath = [&] { interruption.leave(machine, next); };
  FaultyFiles files(machine.files, faults);
  FaultyRegistry registry(machine.registry, faults);
  FaultyLibraries libraries(machine.libraries, faults);
  Platform platform{files, registry, machine.shell, machine.dialogs, machine.window, machine.processes, libraries,
                    machine.system, machine.holders};
  try {
    RecoverInterruptedRun(platform, kTestInstallDir, &scope);
    return false;
  } catch (const ProcessDied&) {
    return true;
  }
}

// A recovery is itself killed, or loses power, at each of its own changes, and again and
// again: the one that finally runs to its end leaves the installation as before.
TEST(AllOrNothing, ARecoveryInterruptedAtAnyOfItsStepsAnyNumberOfTimesIsFinishedByTheNext) {
  const JournalScope scope = Scope();
  const Faults whole = ChangesOfAWholeRun();
  // Killed just before the commit mark: the recovery has every record to undo.
  fake::MemoryMachine dying;
  Prepare(dying);
  const std::string before = State(dying);
  fake::MemoryMachine start;
  Faults faults;
  faults.dieAt = whole.committed;
  faults.atDeath = [&] { TakeOver(start, dying.files.AfterProcessDeath(), dying.registry); };
  EXPECT_THROW(RunUpdater(dying, faults), ProcessDied);

  for (const Interruption& interruption : kInterruptions) {
    // Once, at each step.
    for (int n = 1;; ++n) {
      fake::MemoryMachine machine, next;
      TakeOver(machine, start.files, start.registry);
      if (!RecoveryInterrupted(machine, n, interruption, next)) break;
      Platform platform = next.platform();
      EXPECT_TRUE(RecoverInterruptedRun(platform, kTestInstallDir, &scope).failures.empty()) << interruption.what << " " << n;
      EXPECT_EQ(State(next), before) << interruption.what << " at step " << n;
    }
    // At its first step, then at its second, and so on, each time on what the last left.
    fake::MemoryMachine machine;
    TakeOver(machine, start.files, start.registry);
    for (int n = 1;; ++n) {
      fake::MemoryMachine next;
      if (!RecoveryInterrupted(machine, n, interruption, next)) break;
      TakeOver(machine, next.files, next.registry);
      ASSERT_LT(n, 500) << "a recovery that never ends";
    }
    EXPECT_EQ(State(machine), before) << interruption.what;
  }
}

// The record of a replacement is flushed while its bytes are written: if that flush fails,
// the record may not be on the disk, and the file must stay as it is.
TEST(AllOrNothing, AReplacementWhoseRecordMayNotBeOnTheDiskIsNotMade) {
  fake::MemoryMachine machine;
  const std::string path = std::string(kTestInstallDir) + "\\Admin.dll";
  ASSERT_TRUE(machine.files.MakeDirectory("C:\\Program Files") && machine.files.MakeDirectory("C:\\Program Files\\TolMerik") &&
              machine.files.MakeDirectory(kTestInstallDir) && machine.files.ReplaceWholeFile(path, "previous"));
  Faults faults;
  FaultyFiles files(machine.files, faults);
  Platform platform = WithFiles(machine.platform(), files);
  const auto transaction = UpdateTransaction::Begin(platform, kTestInstallDir);
  ASSERT_TRUE(transaction);
  const auto replacement = transaction->platform().files.CreateReplacement(path);
  ASSERT_TRUE(replacement && replacement->Write("new", 3));
  faults.failAt = faults.changes + 1;  // the wait for the record's flush
  EXPECT_FALSE(replacement->Commit());
  EXPECT_EQ(machine.files.ReadWholeFile(path), "previous");
}

TEST(JournalRecords, EveryKindSurvivesItsLineWhateverTheBytes) {
  JournalRecord value = MakeRecord(JournalRecord::Kind::Value, "SOFTWARE\\Tolmerik\\Varnolith", "Nom\t%\r\n", kHkeyCurrentUser);
  value.existed = true;
  value.type = kRegBinary;
  value.data = std::string("\0\x01\xff%25\r\n", 8);
  JournalRecord saved = MakeRecord(JournalRecord::Kind::Saved, "C:\\Dir\\a.dll", "C:\\Dir\\a.dll.vrnundo1");
  saved.id = FileId{0x8E0A12FF, 0x000500000001F3A2ull};
  for (const JournalRecord& record :
       {MakeRecord(JournalRecord::Kind::Saved, "C:\\Dir\\à é.dll", "C:\\Dir\\à é.dll.vrnundo1"), value, saved,
        MakeRecord(JournalRecord::Kind::Value, "K", "absent", kHkeyLocalMachine),
        MakeRecord(JournalRecord::Kind::Committed)}) {
    const std::string line = EncodeJournalRecord(record);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    const auto decoded = DecodeJournalRecord(line);
    ASSERT_TRUE(decoded) << line;
    EXPECT_EQ(EncodeJournalRecord(*decoded), line);
    EXPECT_EQ(decoded->data, record.data);
    EXPECT_EQ(decoded->second, record.second);
    EXPECT_EQ(decoded->id, record.id) << line;
  }
  EXPECT_FALSE(DecodeJournalRecord("SAVED\tC:\\a\tC:\\a.vrnundo1\t8E0A12FF-0005"));
  EXPECT_FALSE(DecodeJournalRecord("VALUE\tHKLM\tK\tname\t1"));  // cut short
  EXPECT_FALSE(DecodeJournalRecord("SAVED\tC:\\a%2"));
}

// A standard user who may change the installation and every directory above it swaps one of
// them for a junction, between any two of the program's operations on the disk: the junction
// leads to C:\Victime, a copy of what it replaces, where the run would otherwise write,
// move and delete.
constexpr char kVictim[] = "C:\\Victime";

struct JunctionPlant {
  const char* what;
  std::string directory;  // empty: every empty directory of the installation made a mount point
};

std::vector<JunctionPlant> JunctionPlants() {
  const std::string install = kTestInstallDir;
  return {{"the installation", install},
          {"its parent", ParentOf(install)},
          {"a sub-directory the run makes", install + "\\Data"},
          {"a backup's directory", install + "\\Vieux"},
          {"every empty directory made a mount point", ""}};
}

// Every directory and file below the directory, with every byte.
std::string TreeBelow(fake::MemoryMachine& m, const std::string& directory) {
  std::istringstream lines(m.files.Dump());
  std::string tree, line;
  while (std::getline(lines, line)) {
    if (!line.starts_with("[") || !AnsiUpperCase(line.substr(7)).starts_with(AnsiUpperCase(directory))) continue;
    tree += line + "\n";
    if (line.starts_with("[file] ")) tree += "  = " + m.files.Content(line.substr(7, line.rfind(" (") - 7)).value_or("?") + "\n";
  }
  return tree;
}

void PrepareForJunction(fake::MemoryMachine& m) {
  Prepare(m);
  for (const std::string& level : LevelsOf(std::string(kTestInstallDir) + "\\Vieux")) m.files.LetStandardUsersChange(level);
  m.files.AddDirectory(kVictim);
}

// Held or not, an empty directory (one the run just made, one it emptied) can be made a
// mount point by a user the installation's access list lets change it. Each one then leads
// to C:\Victime, which holds the names the run writes, replaces and deletes: any change
// that followed a mount point would show there. The folder as it was then, when at least
// one mount point was made.
std::optional<std::string> PlantMountPoints(fake::MemoryMachine& m) {
  const std::string victim = std::string(kVictim) + "\\Monte";
  if (!m.files.DirectoryExists(victim)) {
    for (const char* name : {"new.dll", "data.bin", "logo.bmp", "ancien.txt", "Sub\\logo.bmp"}) {
      m.files.AddFile(victim + "\\" + name, "the victim's");
    }
  }
  std::vector<std::string> directories = LevelsOf(kTestInstallDir);
  std::istringstream lines(TreeBelow(m, std::string(kTestInstallDir) + "\\"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("[dir]  ")) continue;
    directories.push_back(line.substr(7, std::min(line.find(" held"), line.find(" junction")) - 7));
  }
  const std::string before = TreeBelow(m, kVictim);
  bool made = false;
  for (const std::string& directory : directories) made = m.files.MakeMountPoint(directory, victim) || made;
  return made ? std::optional(before) : std::nullopt;
}

// The user copies the directory as it stands (the names the run made in it included) to
// C:\Victime, then swaps it for a junction there: whatever the run then does to a name
// below it, it would do to the copy. The copy as it was then, when the swap was allowed.
std::optional<std::string> PlantJunction(fake::MemoryMachine& m, const std::string& directory) {
  if (directory.empty()) return PlantMountPoints(m);
  std::istringstream lines(TreeBelow(m, directory + "\\"));
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("[dir]  ")) m.files.AddDirectory(kVictim + line.substr(7 + directory.size()));
    if (!line.starts_with("[file] ")) continue;
    const std::string path = line.substr(7, line.rfind(" (") - 7);
    m.files.AddFile(kVictim + path.substr(directory.size()), *m.files.Content(path));
  }
  const std::string victim = TreeBelow(m, kVictim);
  if (!m.files.SwapForJunction(directory, kVictim)) return std::nullopt;
  return victim;
}

// A journal or a backup anywhere but in the user's copy.
bool AnythingLeftOfARun(fake::MemoryMachine& m) {
  std::istringstream lines(m.files.Dump());
  for (std::string line; std::getline(lines, line);) {
    if (line.find(kVictim) != std::string::npos) continue;
    if (line.find(kJournalFileName) != std::string::npos || line.find(".vrnundo") != std::string::npos) return true;
  }
  return false;
}

TEST(HeldDirectories, AJunctionPutAtAnyPointOfARunLeadsNothingOutOfTheInstallation) {
  int operations = 0;
  {
    fake::MemoryMachine m;
    PrepareForJunction(m);
    Platform platform = m.platform();
    RunApplication(platform, "WINDOWS NT");
    ASSERT_TRUE(Completed(m)) << m.Dump();
    operations = m.files.operations;
  }
  for (const JunctionPlant& plant : JunctionPlants()) {
    for (int n = 1; n <= operations; ++n) {
      fake::MemoryMachine m;
      PrepareForJunction(m);
      std::optional<std::string> victim;
      m.files.beforeEachOperation = [&](int operation) {
        if (operation == n) victim = PlantJunction(m, plant.directory);
      };
      Platform platform = m.platform();
      const ExitCode code = RunApplication(platform, "WINDOWS NT");
      const std::string where = std::string(plant.what) + " at operation " + std::to_string(n);
      if (victim) ASSERT_EQ(TreeBelow(m, kVictim), *victim) << where << "\n" << m.Dump();
      // Held by then, the directory could not be swapped: the run went on undisturbed.
      if (!victim) EXPECT_TRUE(Completed(m)) << where;
      // A directory is made and held in one step, and what is named below it reached
      // through the hold: a mount point on it neither leads the run astray nor stops it.
      if (plant.directory.empty()) EXPECT_TRUE(Completed(m)) << where << "\n" << m.Dump();
      if (!Completed(m)) {
        EXPECT_NE(code, ExitCode::kSuccess) << where;
        EXPECT_FALSE(AnythingLeftOfARun(m)) << where << "\n" << m.Dump();
      }
    }
  }
}

// A run killed before its completion mark (all to undo) or just after it (its backups to
// delete); the recovery meets the junction at any of its operations.
TEST(HeldDirectories, AJunctionPutAtAnyPointOfARecoveryLeadsNothingOutOfTheInstallation) {
  const JournalScope scope = Scope();
  const Faults whole = ChangesOfAWholeRun();
  for (const JunctionPlant& plant : JunctionPlants()) {
    for (const int dieAt : {whole.committed, whole.committed + 1}) {
      fake::MemoryMachine dying, start;
      PrepareForJunction(dying);
      Faults faults;
      faults.dieAt = dieAt;
      faults.atDeath = [&] { TakeOver(start, dying.files.AfterProcessDeath(), dying.registry); };
      EXPECT_THROW(RunUpdater(dying, faults), ProcessDied);
      ASSERT_TRUE(AnythingLeftOfARun(start));
      for (int n = 1;; ++n) {
        fake::MemoryMachine m;
        TakeOver(m, start.files, start.registry);
        bool reached = false;
        std::optional<std::string> victim;
        m.files.beforeEachOperation = [&](int operation) {
          if (operation != n) return;
          reached = true;
          victim = PlantJunction(m, plant.directory);
        };
        Platform platform = m.platform();
        const Recovery recovery = RecoverInterruptedRun(platform, kTestInstallDir, &scope);
        if (!reached) break;
        const std::string where = std::string(plant.what) + ", killed at change " + std::to_string(dieAt) +
                                  ", recovery's operation " + std::to_string(n);
        if (victim) ASSERT_EQ(TreeBelow(m, kVictim), *victim) << where << "\n" << m.Dump();
        if (!victim) {
          EXPECT_TRUE(recovery.failures.empty()) << where;
          EXPECT_FALSE(AnythingLeftOfARun(m)) << where << "\n" << m.Dump();
        }
      }
    }
  }
}

// A user who can write the installation replaces a backup, once the run moved it aside, with
// another file under its name: that file is not the run's to delete.
TEST(HeldDirectories, ABackupIsDeletedOnlyWhileItIsTheFileTheRunMovedAside) {
  const JournalScope scope = Scope();
  const Faults whole = ChangesOfAWholeRun();
  fake::MemoryMachine dying, m;
  Prepare(dying);
  Faults faults;
  faults.dieAt = whole.committed + 1;
  faults.atDeath = [&] { TakeOver(m, dying.files.AfterProcessDeath(), dying.registry); };
  EXPECT_THROW(RunUpdater(dying, faults), ProcessDied);
  const std::string install = kTestInstallDir;
  std::string backup;
  for (const std::string& name : m.files.List(install)) {
    if (name.starts_with("data.bin.vrnundo")) backup = install + "\\" + name;
  }
  ASSERT_FALSE(backup.empty()) << m.Dump();
  m.files.RemoveFile(backup);
  m.files.AddFile(backup, "someone else's");
  Platform platform = m.platform();
  const Recovery recovery = RecoverInterruptedRun(platform, install, &scope);
  EXPECT_EQ(recovery.kind, Recovery::Kind::NotCleaned);
  EXPECT_EQ(m.files.Content(backup), "someone else's") << m.Dump();
}

// Put there before the run, the junction ends it before its first change, with the reason.
TEST(HeldDirectories, ARunWhoseInstallationIsAJunctionIsRefusedWithItsReason) {
  fake::MemoryMachine m;
  PrepareForJunction(m);
  const std::optional<std::string> victim = PlantJunction(m, kTestInstallDir);
  ASSERT_TRUE(victim);
  Platform platform = m.platform();
  EXPECT_EQ(RunApplication(platform, "WINDOWS NT"), ExitCode::kFailed);
  EXPECT_EQ(TreeBelow(m, kVictim), *victim);
  ASSERT_FALSE(m.dialogs.shown.empty());
  EXPECT_EQ(m.dialogs.shown.back().text,
            "Mise à jour refusée : le dossier C:\\Program Files\\TolMerik\\Varnolith ne peut pas être tenu pendant la "
            "mise à jour (c'est une jonction ou un lien). Aucun fichier n'a été modifié.");
}

}  // namespace
}  // namespace varno
