// Deltas made by the tool's encoder, planned and applied by the updater's step on the
// in-memory machine: a file that is not the one a delta fits is refused before anything is
// written, or replaced by the whole file when the package carries it; a delta whose result
// is not the file the description names replaces nothing.
#include "steps/delta_step.h"

#include <gtest/gtest.h>

#include "base/texts.h"
#include "base/update_error.h"
#include "compression/delta_encoder.h"
#include "package/archive_writer.h"
#include "platform/portable_sha256.h"
#include "support/memory_machine.h"

namespace varno {
namespace {

constexpr char kInstallDir[] = "C:\\Varnolith";
constexpr char kPackageDir[] = "C:\\Paquet";

std::string Bytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
  return bytes;
}

class DeltaStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.files.AddDirectory(kInstallDir);
    machine.files.AddDirectory(std::string(kInstallDir) + "\\Bin");
    machine.files.AddDirectory(kPackageDir);
    state.installDir = kInstallDir;
    state.packageDir = kPackageDir;
    state.packageDescriptionPath = std::string(kPackageDir) + "\\MjaIni.ini";
    previous = Bytes(300000, 1);
    next = previous;
    next.replace(1000, 6, "change");
    next += "more at the end";
    machine.files.AddFile(Installed(), previous);
  }
  static std::string Installed() { return std::string(kInstallDir) + "\\Bin\\moteur.dll"; }

  void Package(const std::string& resultSha, bool withWholeFile) {
    const std::string line = "Bin\\moteur.dll|" + BytesSha256Hex(previous) + "|" + resultSha;
    machine.files.AddFile(state.packageDescriptionPath, "1\r\n2\r\n" + std::string(19, '\n') + "[delta]\r\n" + line + "\r\n");
    machine.files.AddFile(std::string(kPackageDir) + "\\" + text::kDeltaArchiveFileName,
                          ArchiveBytes({MemberFromBytes("Bin\\moteur.dll", pack::EncodeDelta(previous, next))}));
    if (withWholeFile) {
      machine.files.AddFile(std::string(kPackageDir) + "\\" + text::kFullFilesArchiveFileName,
                            ArchiveBytes({MemberFromBytes("Bin\\moteur.dll", next)}));
    }
  }

  fake::MemoryMachine machine;
  Platform platform = machine.platform();
  RunState state;
  std::string previous, next;
  std::vector<std::string> logged;
  std::function<void(const std::string&)> log = [this](const std::string& line) { logged.push_back(line); };
};

TEST_F(DeltaStepTest, TheFileItFitsBecomesTheNewOneAndAnyOtherIsRefusedUnlessTheWholeFileCame) {
  Package(BytesSha256Hex(next), false);
  auto plan = PlanDeltas(machine.files, machine.system, state);
  ASSERT_TRUE(plan && plan->Applies());
  ASSERT_EQ(plan->files.size(), 1u);
  EXPECT_EQ(plan->files[0].resultSize, next.size());
  ApplyDeltas(platform, *plan, kPackageDir, log);
  EXPECT_EQ(machine.files.ReadWholeFile(Installed()), next);

  // Changed by hand: nothing the delta can make from it.
  machine.files.AddFile(Installed(), previous + "x");
  plan = PlanDeltas(machine.files, machine.system, state);
  EXPECT_EQ(plan->refused, std::vector<std::string>{"Bin\\moteur.dll"});

  Package(BytesSha256Hex(next), true);
  plan = PlanDeltas(machine.files, machine.system, state);
  ASSERT_TRUE(plan->Applies());
  EXPECT_EQ(plan->files[0].use, PlannedDelta::Use::WholeFile);
  ApplyDeltas(platform, *plan, kPackageDir, log);
  EXPECT_EQ(machine.files.ReadWholeFile(Installed()), next);
}

// The digest is taken while the confirmation waits: what it read must be what the plan
// decides on, so nobody may change the file in between; once the plan is made, the update
// itself must be able to replace it.
TEST_F(DeltaStepTest, TheInstalledFileIsHeldAgainstWritersFromItsDigestUntilThePlanIsMade) {
  Package(BytesSha256Hex(next), false);
  DeltaPlanning planning(machine.files, machine.system, state);
  EXPECT_TRUE(machine.files.HeldAgainstWriters(Installed()));
  const auto plan = planning.Finish();
  ASSERT_TRUE(plan && plan->Applies());
  EXPECT_FALSE(machine.files.HeldAgainstWriters(Installed()));
  ApplyDeltas(platform, *plan, kPackageDir, log);
  EXPECT_EQ(machine.files.ReadWholeFile(Installed()), next);
}

// A file another program holds cannot be read: it is in use, not different, so it waits
// with the files in use and its digest decides once it is free.
TEST_F(DeltaStepTest, AFileThatCannotBeReadIsDigestedOnceFreeInsteadOfRefused) {
  Package(BytesSha256Hex(next), false);
  machine.files.SetInUse(Installed());
  auto plan = PlanDeltas(machine.files, machine.system, state);
  ASSERT_TRUE(plan && plan->Applies());
  PlannedWrites writes;
  AddDeltaWrites(machine.files, *plan, writes);
  EXPECT_EQ(writes.replaced, std::vector<std::string>{Installed()});
  machine.files.SetInUse(Installed(), false);
  EXPECT_TRUE(TakeUnreadDigests(machine.files, *plan));
  ASSERT_TRUE(plan->Applies());
  EXPECT_EQ(plan->files[0].use, PlannedDelta::Use::Delta);
  EXPECT_FALSE(TakeUnreadDigests(machine.files, *plan));

  // Once free, a file that differs is refused as when it was read at once.
  machine.files.SetInUse(Installed());
  plan = PlanDeltas(machine.files, machine.system, state);
  machine.files.SetInUse(Installed(), false);
  machine.files.AddFile(Installed(), previous + "x");
  TakeUnreadDigests(machine.files, *plan);
  EXPECT_EQ(plan->refused, std::vector<std::string>{"Bin\\moteur.dll"});
  EXPECT_TRUE(plan->files.empty());
}

TEST_F(DeltaStepTest, AResultThatIsNotTheDescribedFileReplacesNothing) {
  Package(BytesSha256Hex(next + "?"), false);
  const auto plan = PlanDeltas(machine.files, machine.system, state);
  ASSERT_TRUE(plan && plan->Applies());
  EXPECT_THROW(ApplyDeltas(platform, *plan, kPackageDir, log), UpdateError);
  EXPECT_EQ(machine.files.ReadWholeFile(Installed()), previous);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].rfind(text::kLogDeltaFailed, 0), 0u) << logged[0];
}

// A release that renamed its library and moved a file: each new file is made from the
// installed file its line names, and a second identical result shares the first's member.
TEST_F(DeltaStepTest, RenamedFilesAreMadeFromTheInstalledFileTheirLineNames) {
  const std::string data = Bytes(50000, 7);
  machine.files.AddFile(std::string(kInstallDir) + "\\data.bin", data);
  const std::string description = "1\r\n2\r\n" + std::string(19, '\n') + "[delta]\r\n" +
      "Bin\\moteur-253.dll|" + BytesSha256Hex(previous) + "|" + BytesSha256Hex(next) + "|Bin\\moteur.dll\r\n" +
      "Bin\\Copie\\moteur-253.dll|" + BytesSha256Hex(previous) + "|" + BytesSha256Hex(next) + "|Bin\\moteur.dll\r\n" +
      "Bin\\data.bin|" + BytesSha256Hex(data) + "|" + BytesSha256Hex(data) + "|data.bin\r\n";
  machine.files.AddFile(state.packageDescriptionPath, description);
  machine.files.AddDirectory(std::string(kInstallDir) + "\\Bin\\Copie");
  machine.files.AddFile(std::string(kPackageDir) + "\\" + text::kDeltaArchiveFileName,
                        ArchiveBytes({MemberFromBytes("Bin\\moteur-253.dll", pack::EncodeDelta(previous, next)),
                                      MemberFromBytes("Bin\\data.bin", pack::EncodeDelta(data, data))}));
  auto plan = PlanDeltas(machine.files, machine.system, state);
  ASSERT_TRUE(plan && plan->Applies());
  ASSERT_EQ(plan->files.size(), 3u);
  ApplyDeltas(platform, *plan, kPackageDir, log);
  for (const char* made : {"\\Bin\\moteur-253.dll", "\\Bin\\Copie\\moteur-253.dll"}) {
    EXPECT_EQ(FileSha256Hex(machine.files, kInstallDir + std::string(made)), BytesSha256Hex(next)) << made;
  }
  EXPECT_EQ(FileSha256Hex(machine.files, std::string(kInstallDir) + "\\Bin\\data.bin"), BytesSha256Hex(data));
  EXPECT_EQ(machine.files.ReadWholeFile(Installed()), previous) << "the source stays until [delete]";

  // The source is not the file the delta was made from: refused before anything is written.
  machine.files.AddFile(std::string(kInstallDir) + "\\data.bin", data + "x");
  plan = PlanDeltas(machine.files, machine.system, state);
  EXPECT_EQ(plan->refused, std::vector<std::string>{"data.bin"}) << "named by the installed file that differs";
}

TEST(DeltaDigest, IsSha256WithOrWithoutTheProcessorsInstructions) {
  for (const Sha256Code code : {Sha256Code::Fastest, Sha256Code::Plain}) {
    const auto digest = [code](const std::string& bytes, size_t piece) {
      auto sha = StartPortableSha256(code);
      for (size_t at = 0; at < bytes.size(); at += piece) sha->Add(bytes.data() + at, std::min(piece, bytes.size() - at));
      return HexDigest(*sha->Finish());
    };
    EXPECT_EQ(digest("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest(std::string(1000000, 'a'), 4099), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
}

TEST(DeltaLine, TakesAPathInsideTheInstallationAndTwoDigests) {
  const std::string digest(64, 'A');
  const auto line = ParseDeltaLine("Bin\\a.dll|" + digest + "|" + digest);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->sourceSha256, std::string(64, 'a'));
  const auto renamed = ParseDeltaLine("Bin\\b.dll|" + digest + "|" + digest + "|Bin\\a.dll");
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->Source(), "Bin\\a.dll");
  EXPECT_EQ(line->Source(), "Bin\\a.dll");
  for (const std::string& refused : {"..\\a.dll|" + digest + "|" + digest, "a.dll|" + digest, "a.dll|" + digest + "|12",
                                     "C:\\a.dll|" + digest + "|" + digest, "a.dll|" + digest + "|" + digest + "|..\\b.dll",
                                     "a.dll|" + digest + "|" + digest + "|C:\\b.dll", "a.dll|" + digest + "|" + digest + "|"}) {
    EXPECT_FALSE(ParseDeltaLine(refused)) << refused;
  }
}

}  // namespace
}  // namespace varno
