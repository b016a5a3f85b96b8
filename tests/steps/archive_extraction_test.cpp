// Unpacking archives on the in-memory machine.
#include "steps/archive_extraction.h"

#include <gtest/gtest.h>

#include "app/update_progress.h"
#include "package/archive_writer.h"
#include "package/member_compression.h"
#include "platform/forwarding_files.h"
#include "rollback/rollback.h"
#include "support/memory_machine.h"

namespace varno {
namespace {

using Lines = std::vector<std::string>;
using fake::MemoryMachine;

constexpr char kArchive[] = "C:\\Package\\sor_ti1.slp";
constexpr char kTarget[] = "C:\\Varnolith\\";

// Bytes that differ from member to member and along each member, so a copy that reads one
// byte too many or too few shows.
std::string Pattern(size_t size, char seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
  return bytes;
}

ArchiveSource Deflated(std::string name, std::string bytes) {
  ArchiveSource source = MemberFromBytes(std::move(name), std::move(bytes));
  return DeflatedSource(source, DeflatedSize(source).value());
}

class ExtractArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override { machine.files.AddDirectory(kTarget); }

  void Extract(const std::string& bytes, size_t index = 1) {
    machine.files.AddFile(kArchive, bytes);
    Platform platform = machine.platform();
    ExtractArchive(platform, kArchive, kTarget, record, index);
  }
  std::string File(const std::string& name) {
    return machine.files.Content(kTarget + name).value_or("<no file>");
  }
  std::string State() { return machine.Dump() + "--- record\n" + ::testing::PrintToString(record.Lines()); }

  MemoryMachine machine;
  WriteLogList record;
};

TEST_F(ExtractArchiveTest, WritesEveryMemberAndRecordsTheNewOnesInReverseOrder) {
  record.Append("[SurFile]");
  record.Append("older.dll");
  Extract(ArchiveBytes({MemberFromBytes("a.dll", "AAA"), MemberFromBytes("b.dat", "BB"),
                        MemberFromBytes("Sub\\c.txt", "C")}));
  EXPECT_EQ(File("a.dll"), "AAA");
  EXPECT_EQ(File("b.dat"), "BB");
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "Sub\\c.txt", "b.dat", "a.dll", "older.dll"})) << State();
  EXPECT_TRUE(machine.dialogs.shown.empty());
  EXPECT_EQ(machine.files.List(kTarget), (Lines{"a.dll", "b.dat"})) << "no directory made, no temporary left";
}

TEST_F(ExtractArchiveTest, SizesAroundTheCopyBufferComeOutExact) {
  const size_t sizes[] = {0, 1, 19999, 20000, 20001, 40000, 65536};
  std::vector<ArchiveSource> members;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    members.push_back(MemberFromBytes("m" + std::to_string(i), Pattern(sizes[i], static_cast<char>('a' + i))));
  }
  members.push_back(MemberFromBytes("last", Pattern(40000, 'z')));  // followed by the name table only
  Extract(ArchiveBytes(members), 0);
  for (size_t i = 0; i < std::size(sizes); ++i) {
    EXPECT_EQ(File("m" + std::to_string(i)), Pattern(sizes[i], static_cast<char>('a' + i))) << "size " << sizes[i];
  }
  EXPECT_EQ(File("last"), Pattern(40000, 'z'));
}

TEST_F(ExtractArchiveTest, CompressedMembersComeOutExactAroundTheCopyBuffer) {
  const size_t sizes[] = {0, 1, kArchiveCopyBufferSize - 1, kArchiveCopyBufferSize, 2 * kArchiveCopyBufferSize + 3};
  std::vector<ArchiveSource> members;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    members.push_back(Deflated("m" + std::to_string(i), Pattern(sizes[i], static_cast<char>('a' + i))));
  }
  members.push_back(MemberFromBytes("stored", Pattern(30000, 's')));
  Extract(ArchiveBytes(members), 0);
  for (size_t i = 0; i < std::size(sizes); ++i) {
    EXPECT_EQ(File("m" + std::to_string(i)), Pattern(sizes[i], static_cast<char>('a' + i))) << "size " << sizes[i];
  }
  EXPECT_EQ(File("stored"), Pattern(30000, 's'));
  EXPECT_EQ(machine.files.List(kTarget).size(), std::size(sizes) + 1) << "no temporary left";
}

// A damaged compressed member is found only as it is inflated: like a member that cannot
// be written, it is not committed, and the outcome names it for the caller.
TEST_F(ExtractArchiveTest, ACompressedMemberThatDoesNotInflateLeavesThePreviousFileWhole) {
  machine.files.AddFile("C:\\Varnolith\\a.dll", "previous version");
  std::string bytes =
      ArchiveBytes({Deflated("a.dll", Pattern(3000000, 'a')), Deflated("b.dll", Pattern(20000, 'b'))});
  bytes[4 + 2 * 9 + 5000] ^= 0x20;  // inside a.dll's stream
  machine.files.AddFile(kArchive, bytes);
  Platform platform = machine.platform();
  const ArchiveOutcome outcome = ExtractArchive(platform, kArchive, kTarget, record, 0);
  EXPECT_EQ(File("a.dll"), "previous version");
  EXPECT_EQ(File("b.dll"), Pattern(20000, 'b'));
  ASSERT_NE(outcome.FirstNotWritten(), nullptr);
  EXPECT_EQ(outcome.FirstNotWritten()->name, "a.dll");
  EXPECT_EQ(outcome.FirstNotWritten()->size, 3000000u) << "the real size";
  EXPECT_EQ(machine.files.List(kTarget), (Lines{"a.dll", "b.dll"})) << State();
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(ExtractArchiveTest, AnEmptyArchiveDoesNothing) {
  Extract(std::string("SG1\0#", 5));
  EXPECT_TRUE(machine.files.List(kTarget).empty());
  EXPECT_EQ(record.Count(), 0u);
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(ExtractArchiveTest, ExistingFilesAreOverwrittenAndNotRecorded) {
  machine.files.AddFile("C:\\Varnolith\\A.DLL", "old and long");
  machine.files.AddFile("C:\\Varnolith\\empty.dat", "old");
  Extract(ArchiveBytes({MemberFromBytes("a.dll", "new"), MemberFromBytes("empty.dat", "")}));
  EXPECT_EQ(File("a.dll"), "new");
  EXPECT_EQ(File("empty.dat"), "");
  EXPECT_EQ(record.Count(), 0u) << State();
}

TEST_F(ExtractArchiveTest, TheSameNameTwiceIsWrittenTwiceAndRecordedOnce) {
  record.Append("[SurFile]");
  Extract(ArchiveBytes({MemberFromBytes("a.dll", "first"), MemberFromBytes("A.DLL", "second")}));
  EXPECT_EQ(File("a.dll"), "second");
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "a.dll"}));
}

TEST_F(ExtractArchiveTest, AFullPathAlreadyInTheRecordIsNotRecordedAgain) {
  record.Append("[SurFile]");
  record.Append("c:\\varnolith\\A.DLL");
  Extract(ArchiveBytes({MemberFromBytes("a.dll", "x")}));
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "c:\\varnolith\\A.DLL"}));
}

TEST_F(ExtractArchiveTest, UnwritableMembersArePassedOverAndStillRecordedAtEveryRun) {
  machine.files.AddFile("C:\\Varnolith\\ro.dll", "read-only");
  machine.files.SetReadOnly("C:\\Varnolith\\ro.dll");
  machine.files.AddFile("C:\\Varnolith\\busy.dll", "in use");
  machine.files.SetInUse("C:\\Varnolith\\busy.dll");
  record.Append("[SurFile]");
  const std::string bytes =
      ArchiveBytes({MemberFromBytes("Missing\\a.dll", Pattern(30000, 'a')), MemberFromBytes("ro.dll", "new"),
                    MemberFromBytes("busy.dll", "new"), MemberFromBytes("b.dat", Pattern(25000, 'b'))});
  Extract(bytes);
  Extract(bytes);
  EXPECT_EQ(File("ro.dll"), "read-only");
  EXPECT_EQ(File("busy.dll"), "in use");
  EXPECT_EQ(File("b.dat"), Pattern(25000, 'b')) << "the data of a passed-over member is skipped";
  EXPECT_FALSE(machine.files.DirectoryExists("C:\\Varnolith\\Missing"));
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "Missing\\a.dll", "b.dat", "Missing\\a.dll"})) << State();
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(ExtractArchiveTest, ADiskThatFillsDuringAMemberLeavesThePreviousFileWhole) {
  machine.files.AddFile("C:\\Varnolith\\big.dat", "previous version");
  machine.files.AddFile("C:\\Varnolith\\keep.dat", "kept");
  machine.files.SetFreeSpace(50000);
  record.Append("[SurFile]");
  Extract(ArchiveBytes({MemberFromBytes("big.dat", Pattern(80000, 'g')), MemberFromBytes("new.dat", "n")}));
  EXPECT_EQ(File("big.dat"), "previous version");
  EXPECT_EQ(File("new.dat"), "n") << "the space of the abandoned member is given back";
  EXPECT_EQ(machine.files.List(kTarget), (Lines{"big.dat", "keep.dat", "new.dat"})) << State();
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "new.dat"}));
}

TEST_F(ExtractArchiveTest, AnUnrecognisedArchiveShowsTheMessageAndChangesNothing) {
  const std::string one = std::string("SG1\x01\0\0\0\x01", 8) + "x";
  const std::pair<const char*, std::string> cases[] = {
      {"lower-case signature", std::string("sg1\x01\0\0\0\x01", 8) + "x#a.dll"},
      {"too short", "SG1"},
      {"unknown method", std::string("SG2\x01\x02\0\0\0\x01\0\0\0\x01", 13) + "x#a.dll"},
      {"stored sizes differ", std::string("SG2\x01\x00\0\0\0\x01\0\0\0\x02", 13) + "x#a.dll"},
      {"count above 128", std::string("SG1\xC8", 4) + std::string(800, '\0') + "#a"},
      {"size past the end", std::string("SG1\x01\0\x01\0\0", 8) + "x#a.dll"},
      {"fewer names than members", std::string("SG1\x02\0\0\0\x01\0\0\0\x01", 12) + "xy#a.dll"},
      {"empty name", one + "##a.dll"},
      {"name too long", one + "#" + std::string(255, 'n')},
      {"parent directory", one + "#..\\Windows\\evil.dll"},
      {"absolute", one + "#\\Windows\\evil.dll"},
      {"drive", one + "#C:\\Windows\\evil.dll"},
      {"network", one + "#\\\\server\\share\\evil.dll"},
      // The first member is sound: nothing of it may be written either.
      {"second name bad", ArchiveBytes({MemberFromBytes("good.dll", "g"), MemberFromBytes("x", "x")}).substr(0, 14) +
                              "#good.dll#..\\x"},
  };
  machine.files.AddFile("C:\\Varnolith\\good.dll", "installed");
  record.Append("[SurFile]");
  for (const auto& [what, bytes] : cases) {
    machine.files.AddFile(kArchive, bytes);
    const std::string before = machine.files.Dump();
    machine.dialogs.shown.clear();
    Extract(bytes);
    ASSERT_EQ(machine.dialogs.shown.size(), 1u) << what;
    EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Message);
    EXPECT_EQ(machine.dialogs.shown[0].text, "Fichier archive non reconnu !");
    EXPECT_EQ(machine.files.Dump(), before) << what;
    EXPECT_EQ(File("good.dll"), "installed") << what;
    EXPECT_EQ(record.Lines(), Lines{"[SurFile]"}) << what;
  }
}

TEST_F(ExtractArchiveTest, AnArchiveThatCannotBeOpenedIsUnrecognised) {
  machine.files.AddFile(kArchive, ArchiveBytes({MemberFromBytes("a.dll", "x")}));
  machine.files.SetInUse(kArchive);
  Platform platform = machine.platform();
  ExtractArchive(platform, kArchive, kTarget, record, 0);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].text, "Fichier archive non reconnu !");
  EXPECT_EQ(record.Count(), 0u);
}

// Counts the flushes of the journal: each flushed append, and each wait that finds records
// appended since the last flush.
class CountedJournalFlushes : public ForwardingFiles {
 public:
  using ForwardingFiles::ForwardingFiles;
  int flushes = 0;
  std::unique_ptr<AppendingFile> CreateProtectedForAppending(const std::string& path, bool* ownerRefused) override {
    class Counted : public AppendingFile {
     public:
      Counted(std::unique_ptr<AppendingFile> inner, int& flushes) : inner_(std::move(inner)), flushes_(flushes) {}
      bool Append(std::string_view bytes) override { return ++flushes_, pending_ = false, inner_->Append(bytes); }
      bool AppendFlushingLater(std::string_view bytes) override {
        pending_ = true;
        return inner_->AppendFlushingLater(bytes);
      }
      bool WaitFlushed() override {
        if (std::exchange(pending_, false)) ++flushes_;
        return inner_->WaitFlushed();
      }

     private:
      std::unique_ptr<AppendingFile> inner_;
      int& flushes_;
      bool pending_ = false;
    };
    auto file = inner_.CreateProtectedForAppending(path, ownerRefused);
    return file ? std::make_unique<Counted>(std::move(file), flushes) : nullptr;
  }
};

// Through the journal, an archive's records reach the disk together: one flush for its
// directory's temporary files, one for the records of all its members, not two a member.
TEST_F(ExtractArchiveTest, ThroughTheJournalAWholeArchiveTakesTwoFlushesOfTheJournal) {
  std::vector<ArchiveSource> members;
  for (int i = 0; i < 40; ++i) members.push_back(MemberFromBytes("page" + std::to_string(i) + ".txt", Pattern(100, 'a' + i % 20)));
  machine.files.AddFile(std::string(kTarget) + "page7.txt", "previous");
  machine.files.AddFile(kArchive, ArchiveBytes(members));
  CountedJournalFlushes counted(machine.files);
  Platform platform = WithFiles(machine.platform(), counted);
  auto transaction = UpdateTransaction::Begin(platform, "C:\\Varnolith");
  ASSERT_TRUE(transaction);
  const int begun = counted.flushes;
  const ArchiveOutcome outcome = ExtractArchive(transaction->platform(), kArchive, kTarget, record, 0);
  EXPECT_FALSE(outcome.FirstNotWritten()) << State();
  EXPECT_EQ(counted.flushes - begun, 2) << State();
  ASSERT_TRUE(transaction->Commit());
  for (int i = 0; i < 40; ++i) EXPECT_EQ(File("page" + std::to_string(i) + ".txt"), Pattern(100, 'a' + i % 20)) << i;
  EXPECT_EQ(machine.files.List(kTarget).size(), 40u) << "no backup, journal or temporary file left";
}

}  // namespace
}  // namespace varno
