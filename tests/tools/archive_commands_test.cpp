// create, list and extract on the real disk, through the same host file service as the
// tool: archives round-trip byte for byte, and every refusal leaves the disk as it was.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ansi_text.h"
#include "commands/create_command.h"
#include "commands/extract_command.h"
#include "commands/list_command.h"
#include "host/host_disk.h"
#include "host/host_text.h"
#include "package/archive_writer.h"
#include "package/member_compression.h"

namespace varno::pack {
namespace {

namespace fs = std::filesystem;

// Points TMPDIR, where the tool keeps its private root, somewhere else for a while.
class TemporaryDirectoryVariable {
 public:
  explicit TemporaryDirectoryVariable(const fs::path& directory) {
    if (const char* previous = std::getenv("TMPDIR")) previous_ = previous;
    ::setenv("TMPDIR", directory.c_str(), 1);
  }
  ~TemporaryDirectoryVariable() {
    if (previous_) {
      ::setenv("TMPDIR", previous_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> previous_;
};

// Every file under a directory with its bytes, and every directory, for before-and-after
// comparisons.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_directory()) {
      entries[relative + "/"] = "";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      entries[relative] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return entries;
}

std::string Dump(const Report& report) {
  std::string text;
  for (const Finding& finding : report.Findings()) text += "  " + FindingLine(finding) + "\n";
  return text.empty() ? "  (no findings)\n" : text;
}

class ArchiveCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path base = fs::path(::testing::TempDir()) / "varno-pack-test-XXXXXX";
    std::string pattern = base.string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    fs::create_directories(root / "tmp");
    temporary = std::make_unique<TemporaryDirectoryVariable>(root / "tmp");
    std::string problem;
    disk = HostDisk::Open(problem);
    ASSERT_NE(disk, nullptr) << problem;
    fs::create_directories(root / "work");
  }
  void TearDown() override {
    SetInterrupted(false);
    disk.reset();
    temporary.reset();
    if (!root.empty()) {
      fs::permissions(root, fs::perms::owner_all, fs::perm_options::add);
      for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
      }
      fs::remove_all(root);
    }
  }

  // The Windows path of a file under the work directory.
  std::string Path(const std::string& relative) { return disk->WindowsPath((root / "work" / relative).string()); }

  void WriteFile(const std::string& relative, const std::string& bytes) {
    const fs::path path = root / "work" / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

  CreateMember Member(const std::string& name, const std::string& source) {
    return {name, Path(source), source};
  }

  Report Create(const std::string& archive, std::vector<CreateMember> members, bool compress = true) {
    Report report;
    CreateRequest request{Path(archive), archive, std::move(members), compress};
    CreateArchive(disk->Files(), request, progress, report);
    return report;
  }

  ExtractResult Extract(const std::string& archive, const std::string& directory, bool makeDirectories,
                        Report& report) {
    ExtractRequest request{Path(archive), Path(directory), archive, directory, makeDirectories};
    return ExtractArchiveTo(disk->Files(), request, progress, report);
  }

  fs::path root;
  std::unique_ptr<TemporaryDirectoryVariable> temporary;
  std::unique_ptr<HostDisk> disk;
  Progress progress;  // draws nothing
};

// A random name of one to three levels: letters, digits, blanks and dots inside, and
// accented letters of Windows-1252, which reach the Linux disk as UTF-8.
std::string RandomName(std::mt19937& random, int index) {
  static const std::string kCharacters = "abcXYZ019 ._-\xE9\xE8\xC7\x9C";
  std::uniform_int_distribution<int> levels(1, 3), length(1, 8), character(0, kCharacters.size() - 1);
  std::string name;
  const int count = levels(random);
  for (int level = 0; level < count; ++level) {
    if (level > 0) name += '\\';
    std::string component(1, 'a' + level);
    for (int i = length(random); i > 0; --i) component += kCharacters[character(random)];
    name += component + 'z';  // Windows drops a dot or a blank at the end of a name
  }
  // The last level is unique, so no two members share a file.
  return name + "~" + std::to_string(index);
}

TEST_F(ArchiveCommandsTest, CreateThenExtractGivesBackEveryMemberByteForByte) {
  std::mt19937 random(1234);
  for (int round = 0; round < 25; ++round) {
    const std::string archive = "round" + std::to_string(round) + ".slp";
    std::uniform_int_distribution<int> count(1, 12), kind(0, 6), anyByte(0, 255);
    std::vector<CreateMember> members;
    std::vector<std::string> contents;
    for (int i = count(random); i > 0; --i) {
      // Sizes around the extractor's 20,000-byte buffer, where a copy loop goes wrong.
      static const size_t kSizes[] = {0, 1, 19999, 20000, 20001, 40000};
      const int k = kind(random);
      const size_t size = k < 6 ? kSizes[k] : std::uniform_int_distribution<size_t>(2, 70000)(random);
      std::string bytes(size, '\0');
      for (char& c : bytes) c = static_cast<char>(anyByte(random));
      const std::string source = "src" + std::to_string(round) + "/m" + std::to_string(members.size());
      WriteFile(source, bytes);
      members.push_back(Member(RandomName(random, static_cast<int>(members.size())), source));
      contents.push_back(bytes);
    }
    const Report created = Create(archive, members);
    ASSERT_EQ(created.Status(), 0) << Dump(created);

    // The bytes are those of the writer fed from memory, lead byte "#" included.
    std::vector<ArchiveSource> sources;
    for (size_t i = 0; i < members.size(); ++i) sources.push_back(MemberFromBytes(members[i].name, contents[i]));
    EXPECT_EQ(disk->Files().ReadWholeFile(Path(archive)), ArchiveBytes(sources, '#'));

    Report listed;
    const ArchiveListing listing = ListArchive(disk->Files(), Path(archive), archive, listed);
    ASSERT_TRUE(listing.check.Valid()) << Dump(listed);
    ASSERT_EQ(listing.check.layout.members.size(), members.size());
    for (size_t i = 0; i < members.size(); ++i) {
      EXPECT_EQ(listing.check.layout.members[i].name, members[i].name);
      EXPECT_EQ(listing.check.layout.members[i].size, contents[i].size());
    }

    Report extracted;
    const std::string directory = "out" + std::to_string(round);
    const ExtractResult result = Extract(archive, directory, true, extracted);
    ASSERT_EQ(extracted.Status(), 0) << Dump(extracted);
    for (size_t i = 0; i < members.size(); ++i) {
      EXPECT_EQ(result.members[i].outcome, MemberOutcome::New) << members[i].name;
      const auto bytes = disk->Files().ReadWholeFile(Path(directory) + "\\" + members[i].name);
      ASSERT_TRUE(bytes.has_value()) << Cp1252ToUtf8(members[i].name);
      EXPECT_TRUE(*bytes == contents[i]) << Cp1252ToUtf8(members[i].name) << ": " << bytes->size() << " bytes for "
                                         << contents[i].size();
    }
  }
}

TEST_F(ArchiveCommandsTest, RefusedArchivesAreNeitherWrittenNorLeftHalfWritten) {
  WriteFile("a.txt", "a");
  WriteFile("old.slp", "the archive of an earlier build");
  fs::create_directories(root / "work" / "folder");
  const std::vector<CreateMember> tooMany(129, Member("a.txt", "a.txt"));
  struct Refusal {
    const char* code;
    std::vector<CreateMember> members;
  } refusals[] = {
      {"name-refused", {Member("", "a.txt")}},
      {"name-refused", {Member(std::string(255, 'n'), "a.txt")}},
      {"name-refused", {Member("a#b.txt", "a.txt")}},
      {"name-refused", {Member("\\abs.txt", "a.txt")}},
      {"name-refused", {Member("Data\\..\\..\\x.txt", "a.txt")}},
      {"name-refused", {Member("C:x.txt", "a.txt")}},
      // Names the updater's reader takes but Windows would not keep as written.
      {"name-refused", {Member("NUL.txt", "a.txt")}},
      {"name-refused", {Member("Data\\fichier.", "a.txt")}},
      {"name-refused", {Member("a b \\x.txt", "a.txt")}},
      {"too-many-members", tooMany},
      {"no-members", {}},
      {"source-unreadable", {Member("a.txt", "a.txt"), Member("b.txt", "missing.txt")}},
      {"source-unreadable", {Member("folder", "folder")}},
  };
  for (const std::string archive : {"old.slp", "new.slp", "missing-dir/new.slp"}) {
    for (const Refusal& refusal : refusals) {
      const auto before = Snapshot(root);
      const Report report = Create(archive, refusal.members);
      EXPECT_EQ(report.Status(), 2) << refusal.code;
      EXPECT_TRUE(std::any_of(report.Findings().begin(), report.Findings().end(),
                              [&](const Finding& f) { return f.code == refusal.code; }))
          << refusal.code << " for " << archive << ":\n" << Dump(report);
      EXPECT_EQ(Snapshot(root), before) << refusal.code << " for " << archive;
    }
  }
  const auto before = Snapshot(root);
  EXPECT_EQ(Create("missing-dir/new.slp", {Member("a.txt", "a.txt")}).Findings().at(0).code, "write-failed");
  EXPECT_EQ(Snapshot(root), before);
}

TEST_F(ArchiveCommandsTest, AnInterruptionLeavesNoPartialFile) {
  WriteFile("big.bin", std::string(300000, 'b'));
  WriteFile("old.slp", "the archive of an earlier build");
  ASSERT_EQ(Create("good.slp", {Member("big.bin", "big.bin"), Member("Data\\small.txt", "old.slp")}).Status(), 0);
  fs::create_directories(root / "work" / "out");
  const auto before = Snapshot(root);

  SetInterrupted(true);
  const Report created = Create("old.slp", {Member("big.bin", "big.bin")});
  EXPECT_EQ(created.Findings().at(0).code, "interrupted") << Dump(created);
  Report extracted;
  Extract("good.slp", "out", true, extracted);
  EXPECT_TRUE(extracted.HasErrors()) << Dump(extracted);
  // The directories --make-dirs made before the extractor started may stay; no file does.
  auto after = Snapshot(root);
  after.erase("work/out/Data/");
  EXPECT_EQ(after, before);
}

TEST_F(ArchiveCommandsTest, ExtractRefusesAMalformedArchiveBeforeMakingAnything) {
  WriteFile("a.txt", "a");
  ASSERT_EQ(Create("good.slp", {Member("x\\a.txt", "a.txt")}).Status(), 0);
  std::string bytes = *disk->Files().ReadWholeFile(Path("good.slp"));
  bytes[7] = 9;  // member 1 now claims 9 bytes, past the name table's start
  WriteFile("bad.slp", bytes.substr(0, 14));
  const auto before = Snapshot(root);
  Report report;
  Extract("bad.slp", "new/dir", true, report);
  ASSERT_EQ(report.Findings().size(), 1u);
  EXPECT_EQ(report.Findings()[0].code, "archive-malformed");
  EXPECT_NE(report.Findings()[0].message.find("member 1 (size 9 at offset 4) ends at offset 17"), std::string::npos)
      << report.Findings()[0].message;
  EXPECT_EQ(Snapshot(root), before);
}

TEST_F(ArchiveCommandsTest, ExtractTellsNewReplacedAndPassedOverMembersApart) {
  WriteFile("a.txt", "new a");
  ASSERT_EQ(Create("p.slp", {Member("a.txt", "a.txt"), Member("b.txt", "a.txt"), Member("Sub\\c.txt", "a.txt"),
                             Member("locked.txt", "a.txt")})
                .Status(),
            0);
  WriteFile("out/a.txt", "old a");
  WriteFile("out/locked.txt", "kept");
  ::chmod((root / "work/out/locked.txt").c_str(), 0444);  // read-only, as the updater sees it

  Report report;
  const ExtractResult result = Extract("p.slp", "out", false, report);
  ASSERT_EQ(result.members.size(), 4u);
  EXPECT_EQ(result.members[0].outcome, MemberOutcome::Replaced);
  EXPECT_EQ(result.members[1].outcome, MemberOutcome::New);
  EXPECT_EQ(result.members[2].outcome, MemberOutcome::NotWritten);
  EXPECT_EQ(result.members[3].outcome, MemberOutcome::NotWritten);
  EXPECT_EQ(report.Status(), 1) << Dump(report);
  ASSERT_EQ(report.Findings().size(), 2u) << Dump(report);
  EXPECT_NE(report.Findings()[0].message.find("the directory \"Sub\" does not exist"), std::string::npos);
  EXPECT_NE(report.Findings()[1].message.find("cannot be replaced"), std::string::npos);
  EXPECT_EQ(disk->Files().ReadWholeFile(Path("out/a.txt")), "new a");
  EXPECT_EQ(disk->Files().ReadWholeFile(Path("out/locked.txt")), "kept");

  const Json document = ExtractJson({"", "", "p.slp", "out", false}, result, report);
  EXPECT_EQ(document["members"][0]["outcome"], "replaced");
  EXPECT_EQ(document["members"][2]["outcome"], "not-written");
}

TEST_F(ArchiveCommandsTest, CreateWarnsOfTwoMembersOfOneNameAndStillWrites) {
  WriteFile("a.txt", "a");
  const Report report = Create("d.slp", {Member("Readme.txt", "a.txt"), Member("README.TXT", "a.txt")});
  EXPECT_EQ(report.Status(), 1) << Dump(report);
  EXPECT_EQ(report.Findings().at(0).code, "duplicate-name");
  EXPECT_TRUE(disk->Files().FileExists(Path("d.slp")));
}

// Compressed where that saves a tenth, on two threads, through temporary files: the bytes
// must be those of the core's writer compressing as it writes, whatever thread finished first.
TEST_F(ArchiveCommandsTest, CreateCompressesWhereItPaysAndGivesTheSameBytesEveryTime) {
  std::mt19937 random(99);
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string text;
  while (text.size() < 3000000) text += "Varnolith " + std::to_string(text.size() % 977) + "\r\n";
  const std::vector<std::pair<std::string, std::string>> contents{
      {"noise.bin", noise}, {"text.txt", text}, {"empty.dat", ""}, {"Sub\\zeros.dat", std::string(70000, '\0')}};
  std::vector<CreateMember> members;
  std::vector<ArchiveSource> sources;
  for (const auto& [name, bytes] : contents) {
    WriteFile("src/" + std::to_string(members.size()), bytes);
    members.push_back(Member(name, "src/" + std::to_string(members.size())));
    ArchiveSource source = MemberFromBytes(name, bytes);
    const uint64_t deflated = DeflatedSize(source).value();
    sources.push_back(WorthCompressing(source.size, deflated) ? DeflatedSource(source, deflated) : source);
  }
  ASSERT_EQ(Create("c1.slp", members).Status(), 0);
  ASSERT_EQ(Create("c2.slp", members).Status(), 0);
  const auto bytes = disk->Files().ReadWholeFile(Path("c1.slp"));
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, ArchiveBytes(sources, '#'));
  EXPECT_EQ(disk->Files().ReadWholeFile(Path("c2.slp")), bytes);

  Report listed;
  const ArchiveListing listing = ListArchive(disk->Files(), Path("c1.slp"), "c1.slp", listed);
  const Json document = ListJson("c1.slp", listing, listed);
  EXPECT_EQ(document["format"], "SG2");
  const std::vector<std::string> methods{"stored", "deflate", "stored", "deflate"};
  for (size_t i = 0; i < methods.size(); ++i) {
    EXPECT_EQ(document["members"][i]["method"], methods[i]) << i;
    EXPECT_EQ(document["members"][i]["size"], contents[i].second.size()) << i;
  }
  EXPECT_LT(document["members"][1]["storedSize"].get<uint64_t>(), text.size() / 10);

  Report extracted;
  Extract("c1.slp", "out", true, extracted);
  for (const auto& [name, content] : contents) {
    EXPECT_EQ(disk->Files().ReadWholeFile(Path("out") + "\\" + name), content) << name;
  }

  ASSERT_EQ(Create("plain.slp", members, false).Status(), 0);
  std::vector<ArchiveSource> stored;
  for (const auto& [name, content] : contents) stored.push_back(MemberFromBytes(name, content));
  EXPECT_EQ(disk->Files().ReadWholeFile(Path("plain.slp")), ArchiveBytes(stored, '#')) << "--no-compress: SG1";
}

TEST_F(ArchiveCommandsTest, ListShowsTheLeadByteAndWhyAnArchiveIsMalformed) {
  WriteFile("lead.slp", ArchiveBytes({MemberFromBytes("a", "xyz")}, '\x07'));
  Report report;
  const ArchiveListing listing = ListArchive(disk->Files(), Path("lead.slp"), "lead.slp", report);
  EXPECT_EQ(listing.leadByte, 7);
  const Json good = ListJson("lead.slp", listing, report);
  EXPECT_EQ(good["valid"], true);
  EXPECT_EQ(good["nameTableOffset"], 11);
  EXPECT_EQ(good["members"][0]["offset"], 8);

  WriteFile("sg3.slp", "SG3\x01");
  Report bad;
  const ArchiveListing malformed = ListArchive(disk->Files(), Path("sg3.slp"), "sg3.slp", bad);
  ASSERT_EQ(bad.Findings().size(), 1u);
  EXPECT_NE(bad.Findings()[0].message.find("the signature at offset 0 is 0x53 0x47 0x33"), std::string::npos)
      << bad.Findings()[0].message;
  const Json document = ListJson("sg3.slp", malformed, bad);
  EXPECT_EQ(document["valid"], false);
  EXPECT_EQ(document["status"], 2);
  EXPECT_TRUE(document["members"].empty());
}

TEST(HostDiskTest, RemovesItsPrivateRootWhenDone) {
  const fs::path temporary = fs::path(::testing::TempDir()) / "varno-pack-root-test";
  fs::remove_all(temporary);
  fs::create_directories(temporary);
  {
    const TemporaryDirectoryVariable variable(temporary);
    std::string problem;
    const auto disk = HostDisk::Open(problem);
    ASSERT_NE(disk, nullptr) << problem;
    EXPECT_FALSE(fs::is_empty(temporary));
    EXPECT_TRUE(disk->Files().DirectoryExists(disk->WindowsPath(temporary.string())));
    EXPECT_EQ(disk->WindowsPath("/usr/lib"), "C:\\usr\\lib");
  }
  EXPECT_TRUE(fs::is_empty(temporary));
  fs::remove_all(temporary);
}

}  // namespace
}  // namespace varno::pack
