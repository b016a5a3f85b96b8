// The registry side of an update that is all or nothing: the undo of a value holds the value
// exactly, a value that cannot be read is not changed, and a power cut at any moment around
// the commit finds the registry consistent with the files, whatever the system's lazy flush
// had written.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>

#include "app/form1.h"
#include "app/update_progress.h"
#include "package/archive_writer.h"
#include "platform/forwarding_files.h"
#include "rollback/rollback.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kProductKey;
using fake::kTestInstallDir;

struct PowerCut {};

// The moments around the commit: just before the mark is written, just after it, and once the
// completed run has deleted its journal. The watch is called at each; a cut is its throwing.
enum class Moment { BeforeMark, AfterMark, AfterJournalDeleted };
using Watch = std::function<void(Moment)>;

class WatchedAppending : public AppendingFile {
 public:
  WatchedAppending(std::unique_ptr<AppendingFile> inner, const Watch& watch) : inner_(std::move(inner)), watch_(watch) {}
  bool Append(std::string_view bytes) override {
    const bool mark = bytes.starts_with("COMMITTED");
    if (mark) watch_(Moment::BeforeMark);
    const bool written = inner_->Append(bytes);
    if (mark) watch_(Moment::AfterMark);
    return written;
  }
  bool AppendFlushingLater(std::string_view bytes) override { return inner_->AppendFlushingLater(bytes); }
  bool WaitFlushed() override { return inner_->WaitFlushed(); }

 private:
  std::unique_ptr<AppendingFile> inner_;
  const Watch& watch_;
};

class WatchedFiles : public ForwardingFiles {
 public:
  WatchedFiles(FileSystem& inner, Watch watch) : ForwardingFiles(inner), watch_(std::move(watch)) {}
  std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string& path, bool* ownerRefused) override {
    auto file = inner_.CreateProtectedForAppending(path, ownerRefused);
    return file ? std::make_unique<WatchedAppending>(std::move(file), watch_) : nullptr;
  }
  bool CopyFileTo(const std::string& from, const std::string& to) override { return FileSystem::CopyFileTo(from, to); }
  bool RemoveFile(const std::string& path) override {
    const bool removed = inner_.RemoveFile(path);
    if (path.ends_with(kJournalFileName)) watch_(Moment::AfterJournalDeleted);
    return removed;
  }

 private:
  Watch watch_;
};

// An installation whose update replaces a file, changes "Version" and a value of its own,
// and adds one.
void Prepare(fake::MemoryMachine& m) {
  fake::InstallProduct(m);
  m.files.AddFile(std::string(kTestInstallDir) + "\\data.bin", "previous data");
  m.registry.PutString(kHkeyLocalMachine, kProductKey, "Port", "ancien");
  fake::WritePackageDescription(m, "2816090", "[reg]\r\nPort: integer; 8080\r\nNom: string; x\r\n");
  m.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("data.bin", "new data")}));
}

// Files and registry, without the run log and the database level, which are not undone,
// nor the key that anchors runs (checked apart).
std::string State(fake::MemoryMachine& m) {
  std::istringstream lines(m.Dump());
  std::string state, line;
  bool anchorKey = false;
  while (std::getline(lines, line) && line != "--- boxes") {
    if (line.starts_with("[")) anchorKey = AnsiSameText(line, "[HKEY_LOCAL_MACHINE\\" + std::string(kRunAnchorKey) + "]");
    if (anchorKey) continue;
    if (line.find("VarnoMaJLog.txt") == std::string::npos && line.find("VarnoInst") == std::string::npos) {
      state += line + "\n";
    }
  }
  return state;
}

void RunUpdater(fake::MemoryMachine& m, FileSystem& files) {
  Platform platform = WithFiles(m.platform(), files);
  RunApplication(platform, "WINDOWS NT");
}

TEST(RegistryDurability, APowerCutAroundTheCommitFindsTheRegistryWithItsFiles) {
  fake::MemoryMachine reference;
  Prepare(reference);
  const std::string before = State(reference);
  RunUpdater(reference, reference.files);
  ASSERT_TRUE(reference.window.Visible(Control::Button1)) << reference.Dump();
  const std::string completed = State(reference);
  ASSERT_NE(completed, before);

  for (const Moment moment : {Moment::BeforeMark, Moment::AfterMark, Moment::AfterJournalDeleted}) {
    for (const size_t kept : {size_t{0}, SIZE_MAX}) {
      const std::string which = "cut " + std::to_string(static_cast<int>(moment)) + ", lazily flushed " +
                                (kept ? "all" : "none");
      fake::MemoryMachine machine;
      Prepare(machine);
      WatchedFiles files(machine.files, [moment](Moment now) {
        if (now == moment) throw PowerCut{};
      });
      EXPECT_THROW(RunUpdater(machine, files), PowerCut) << which;
      machine.registry.PowerCut(kept);

      Platform platform = machine.platform();
      EXPECT_TRUE(RecoverInterruptedRun(platform, kTestInstallDir).failures.empty()) << which;
      const std::string& expected = moment == Moment::BeforeMark ? before : completed;
      EXPECT_EQ(State(machine), expected) << which;
      // Cut between the journal's deletion and the anchor's: the run is not known to have
      // ended, and the same package will be applied again rather than called done.
      EXPECT_EQ(RepairDue(machine.registry, kTestInstallDir), moment == Moment::AfterJournalDeleted) << which;
      // What the recovery put back is on the disk before its journal went.
      machine.registry.PowerCut(0);
      EXPECT_EQ(State(machine), expected) << which << ", then cut again";
    }
  }
}

struct TransactionTest : ::testing::Test {
  void SetUp() override {
    fake::InstallProduct(machine);
    machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Port", "ancien");
    transaction = UpdateTransaction::Begin(real, kTestInstallDir);
    ASSERT_TRUE(transaction);
  }
  RegKey Open(const std::string& path, uint32_t access = kKeySetValue, bool create = false) {
    RegKey key = 0;
    EXPECT_EQ(transaction->platform().registry.OpenKey(kHkeyLocalMachine, path, access, create, &key), kRegSuccess)
        << path;
    return key;
  }
  fake::MemoryMachine machine;
  size_t unflushedAtMark = SIZE_MAX;
  WatchedFiles files{machine.files, [this](Moment now) {
                       if (now == Moment::BeforeMark) unflushedAtMark = machine.registry.UnflushedChanges();
                     }};
  Platform real = WithFiles(machine.platform(), files);
  std::unique_ptr<UpdateTransaction> transaction;
};

TEST_F(TransactionTest, TheCommitFlushesEveryChangedKeyBeforeItsMark) {
  Registry& registry = transaction->platform().registry;
  const RegKey product = Open(kProductKey);
  EXPECT_EQ(registry.SetValue(product, "Port", kRegDword, std::string("\x90\x1F\0\0", 4)), kRegSuccess);
  EXPECT_EQ(registry.DeleteValue(product, "Version"), kRegSuccess);
  const RegKey created = Open(std::string(kProductKey) + "\\Options\\Deep", kKeyWrite, true);
  EXPECT_EQ(registry.SetValue(created, "Nom", kRegSz, std::string("x\0", 2)), kRegSuccess);
  registry.CloseKey(created);
  registry.CloseKey(product);
  ASSERT_GT(machine.registry.UnflushedChanges(), 0u);

  ASSERT_TRUE(transaction->Commit());
  EXPECT_EQ(unflushedAtMark, 0u) << "flushed:\n" << ::testing::PrintToString(machine.registry.Flushes());
}

// A read that fails for another reason than "not found" says nothing of the value: the
// change is refused rather than journaled as the creation of a value that was there.
TEST_F(TransactionTest, AValueOrKeyThatCannotBeReadIsNotChanged) {
  machine.registry.Refuse(kHkeyLocalMachine, kProductKey, kKeyQueryValue);
  Registry& registry = transaction->platform().registry;
  const RegKey product = Open(kProductKey);
  EXPECT_EQ(registry.SetValue(product, "Port", kRegSz, std::string("neuf\0", 5)), kRegAccessDenied);
  EXPECT_EQ(registry.DeleteValue(product, "Version"), kRegAccessDenied);
  RegKey below = 0;
  EXPECT_EQ(registry.OpenKey(product, "Options", kKeyWrite, true, &below), kRegAccessDenied);
  registry.CloseKey(product);

  EXPECT_TRUE(transaction->Rollback().empty());
  const auto port = machine.registry.Get(kHkeyLocalMachine, kProductKey, "Port");
  EXPECT_EQ(port ? port->data : "<none>", std::string("ancien\0", 7));
  EXPECT_TRUE(machine.registry.Get(kHkeyLocalMachine, kProductKey, "Version")) << machine.registry.Dump();
  EXPECT_FALSE(machine.registry.KeyExists(kHkeyLocalMachine, std::string(kProductKey) + "\\Options"));
}

TEST(RegistryJournalRecords, ExactValuesKeepEveryByteAndAnyThirtyTwoBitType) {
  JournalRecord value = MakeRecord(JournalRecord::Kind::RawValue, kProductKey, "Nom", kHkeyLocalMachine);
  value.existed = true;
  value.type = 4294967295u;
  value.data = std::string("\x2D\x4E\0\0a\0\0\0\x01", 9);  // UTF-16 past the first zero, odd length
  const std::string line = EncodeJournalRecord(value);
  EXPECT_TRUE(line.starts_with("RAWVALUE\tHKLM\t")) << line;
  const auto decoded = DecodeJournalRecord(line);
  ASSERT_TRUE(decoded) << line;
  EXPECT_EQ(decoded->kind, JournalRecord::Kind::RawValue);
  EXPECT_EQ(decoded->type, 4294967295u);
  EXPECT_EQ(decoded->data, value.data);
  EXPECT_FALSE(DecodeJournalRecord("RAWVALUE\tHKLM\tK\tNom\t4294967296\tx"));
  EXPECT_FALSE(DecodeJournalRecord("RAWVALUE\tHKLM\tK\tNom\t04294967295\tx"));
}

// A journal left by the previous program is still taken back.
TEST(RegistryJournalRecords, AFirstVersionJournalIsStillRecovered) {
  fake::MemoryMachine machine;
  fake::InstallProduct(machine);
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Port", "neuf");
  machine.files.AddFile(std::string(kTestInstallDir) + "\\" + kJournalFileName,
                        "VARNOJOURNAL\t1\r\nVALUE\tHKLM\tSoftware\\Tolmerik\\Varnolith\tPort\t1\tancien%00\r\n");
  Platform platform = machine.platform();
  EXPECT_EQ(RecoverInterruptedRun(platform, kTestInstallDir).kind, Recovery::Kind::Restored);
  const auto port = machine.registry.Get(kHkeyLocalMachine, kProductKey, "Port");
  EXPECT_EQ(port ? port->data : "<none>", std::string("ancien\0", 7));
}

}  // namespace
}  // namespace varno
