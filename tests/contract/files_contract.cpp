#include "contract/files_contract.h"

#include <algorithm>

namespace varno::fake {

void FilesContract::SetUp() {
  backend_ = GetParam()();
  files_ = &backend_->Files();
  scratch_ = backend_->Scratch();
}

void FilesContract::TearDown() { backend_.reset(); }

std::string FilesContract::Read(const std::string& name) {
  return files_->ReadWholeFile(In(name)).value_or("<unreadable>");
}

TEST_P(FilesContract, MissingPathsAreNeitherFilesNorDirectories) {
  EXPECT_FALSE(files_->FileExists(In("absent.txt")));
  EXPECT_FALSE(files_->DirectoryExists(In("absent")));
  EXPECT_FALSE(files_->ReadWholeFile(In("absent.txt")).has_value());
  EXPECT_FALSE(files_->RemoveFile(In("absent.txt")));
}

TEST_P(FilesContract, FilesAndDirectoriesAreToldApart) {
  ASSERT_TRUE(files_->MakeDirectory(In("Dir")));
  ASSERT_TRUE(files_->ReplaceWholeFile(In("file.txt"), "x"));
  EXPECT_TRUE(files_->DirectoryExists(In("Dir")));
  EXPECT_FALSE(files_->FileExists(In("Dir")));
  EXPECT_TRUE(files_->FileExists(In("file.txt")));
  EXPECT_FALSE(files_->DirectoryExists(In("file.txt")));
}

TEST_P(FilesContract, NamesCompareWithoutRegardToCase) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("Journal.TXT"), "x"));
  EXPECT_TRUE(files_->FileExists(In("jOURNAL.txt")));
  EXPECT_EQ(Read("JOURNAL.txt"), "x");
}

TEST_P(FilesContract, WholeFileKeepsEveryByteAndReplacesTheOldContent) {
  const std::string bytes("Mise \xE0 jour\r\n\0\x1A\xFF end", 18);
  ASSERT_TRUE(files_->ReplaceWholeFile(In("data.bin"), bytes));
  EXPECT_EQ(Read("data.bin"), bytes);
  ASSERT_TRUE(files_->ReplaceWholeFile(In("data.bin"), "short"));
  EXPECT_EQ(Read("data.bin"), "short");
  ASSERT_TRUE(files_->ReplaceWholeFile(In("data.bin"), ""));
  EXPECT_EQ(Read("data.bin"), "");
}

TEST_P(FilesContract, ReplacingLeavesNoTemporaryFileBehind) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("a.txt"), "one"));
  ASSERT_TRUE(files_->ReplaceWholeFile(In("a.txt"), "two"));
  const std::vector<std::string> names = backend_->List(scratch_);
  EXPECT_EQ(names, std::vector<std::string>{"a.txt"});
}

// A temporary name that is taken, by a file or by whatever another user put there, is
// never opened: the replacement is refused and the file at that name keeps its bytes.
TEST_P(FilesContract, ANamedTemporaryFileIsCreatedAnewOrNotAtAll) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("taken.tmp"), "someone else's"));
  EXPECT_FALSE(files_->CreateReplacementNamed(In("a.txt"), In("taken.tmp")));
  EXPECT_EQ(files_->ReadWholeFile(In("taken.tmp")), "someone else's");
  EXPECT_FALSE(files_->FileExists(In("a.txt")));

  ASSERT_TRUE(files_->ReplaceWholeFile(In("a.txt.tmp"), "left by a killed save"));
  ASSERT_TRUE(files_->ReplaceWholeFileBeside(In("a.txt"), "saved"));
  EXPECT_EQ(files_->ReadWholeFile(In("a.txt")), "saved");
  std::vector<std::string> names = backend_->List(scratch_);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "taken.tmp"}));
}

TEST_P(FilesContract, FailedReplaceKeepsThePreviousFileWhole) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("ro.txt"), "previous"));
  backend_->SetReadOnly(In("ro.txt"), true);
  EXPECT_FALSE(files_->ReplaceWholeFile(In("ro.txt"), "new content"));
  backend_->SetReadOnly(In("ro.txt"), false);
  EXPECT_EQ(Read("ro.txt"), "previous");

  ASSERT_TRUE(files_->ReplaceWholeFile(In("busy.txt"), "previous"));
  backend_->SetInUse(In("busy.txt"), true);
  EXPECT_FALSE(files_->ReplaceWholeFile(In("busy.txt"), "new content"));
  backend_->SetInUse(In("busy.txt"), false);
  EXPECT_EQ(Read("busy.txt"), "previous");

  auto names = backend_->List(scratch_);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"busy.txt", "ro.txt"}));
}

TEST_P(FilesContract, ReplaceFailsInAMissingDirectory) {
  EXPECT_FALSE(files_->ReplaceWholeFile(In("nowhere\\a.txt"), "x"));
  EXPECT_FALSE(files_->DirectoryExists(In("nowhere")));
}

TEST_P(FilesContract, MoveRenamesButNeverOverwrites) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("from.txt"), "moved"));
  ASSERT_TRUE(files_->MakeDirectory(In("Dest")));
  EXPECT_TRUE(files_->MoveFileTo(In("from.txt"), In("Dest\\to.txt")));
  EXPECT_FALSE(files_->FileExists(In("from.txt")));
  EXPECT_EQ(Read("Dest\\to.txt"), "moved");

  ASSERT_TRUE(files_->ReplaceWholeFile(In("other.txt"), "other"));
  EXPECT_FALSE(files_->MoveFileTo(In("other.txt"), In("Dest\\to.txt")));
  EXPECT_EQ(Read("other.txt"), "other");
  EXPECT_EQ(Read("Dest\\to.txt"), "moved");

  EXPECT_FALSE(files_->MoveFileTo(In("absent.txt"), In("Dest\\x.txt")));
  EXPECT_FALSE(files_->MoveFileTo(In("other.txt"), In("Missing\\other.txt")));
  EXPECT_TRUE(files_->FileExists(In("other.txt")));
}

TEST_P(FilesContract, RemoveRefusesReadOnlyAndOpenFiles) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("ro.txt"), "x"));
  backend_->SetReadOnly(In("ro.txt"), true);
  EXPECT_FALSE(files_->RemoveFile(In("ro.txt")));
  EXPECT_TRUE(files_->FileExists(In("ro.txt")));
  backend_->SetReadOnly(In("ro.txt"), false);

  ASSERT_TRUE(files_->ReplaceWholeFile(In("busy.txt"), "x"));
  backend_->SetInUse(In("busy.txt"), true);
  EXPECT_FALSE(files_->RemoveFile(In("busy.txt")));
  backend_->SetInUse(In("busy.txt"), false);

  EXPECT_TRUE(files_->RemoveFile(In("busy.txt")));
  EXPECT_FALSE(files_->FileExists(In("busy.txt")));
}

TEST_P(FilesContract, AFileHeldAgainstWritersCanBeReadButNotChangedUntilReleased) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("held.slp"), "signed"));
  {
    auto held = files_->OpenHeldAgainstWriters(In("held.slp"));
    ASSERT_TRUE(held);
    EXPECT_EQ(files_->ReadWholeFile(In("held.slp")), "signed") << "other readers are let in";
    EXPECT_FALSE(files_->ReplaceWholeFile(In("held.slp"), "swapped"));
    EXPECT_FALSE(files_->RemoveFile(In("held.slp")));
    EXPECT_FALSE(files_->MoveFileTo(In("held.slp"), In("moved.slp")));
    char bytes[16] = {};
    EXPECT_EQ(held->Read(bytes, sizeof(bytes)), 6u);
    EXPECT_EQ(std::string(bytes, 6), "signed");
  }
  EXPECT_TRUE(files_->ReplaceWholeFile(In("held.slp"), "swapped"));
  EXPECT_FALSE(files_->OpenHeldAgainstWriters(In("missing.slp")));
}

TEST_P(FilesContract, MakeDirectoryCreatesOneLevelOnly) {
  EXPECT_FALSE(files_->MakeDirectory(In("A\\B")));
  EXPECT_FALSE(files_->DirectoryExists(In("A")));
  EXPECT_TRUE(files_->MakeDirectory(In("A")));
  EXPECT_FALSE(files_->MakeDirectory(In("A")));
  EXPECT_TRUE(files_->MakeDirectory(In("A\\B")));
  EXPECT_TRUE(files_->DirectoryExists(In("a\\b")));
}

TEST_P(FilesContract, RelativePathsResolveInTheCurrentDirectory) {
  ASSERT_TRUE(files_->MakeDirectory(In("Cwd")));
  backend_->ChangeCurrentDirectory(In("Cwd"));
  ASSERT_TRUE(files_->ReplaceWholeFile("VarnoMaJLog.txt", "rel"));
  EXPECT_TRUE(files_->FileExists("varnomajlog.txt"));
  EXPECT_EQ(Read("Cwd\\VarnoMaJLog.txt"), "rel");
}

TEST_P(FilesContract, ReadsFromAnyPosition) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("a.bin"), "0123456789"));
  auto file = files_->OpenForReading(In("a.bin"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), 10u);
  char buffer[16] = {};
  EXPECT_EQ(file->Read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  ASSERT_TRUE(file->Seek(7));
  EXPECT_EQ(file->Read(buffer, 16), 3u);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(file->Read(buffer, 16), 0u);
  ASSERT_TRUE(file->Seek(20));
  EXPECT_EQ(file->Read(buffer, 16), 0u);
  EXPECT_FALSE(files_->OpenForReading(In("absent.bin")));
}

// Larger than any block a backend may move through the kernel at once, written and read in
// the extractor's chunks and in odd ones, with positions inside, behind and past what was
// read last.
TEST_P(FilesContract, LargeFilesKeepEveryByteWhateverTheChunksAndPositions) {
  // Past sixteen mebibytes, so that a backend which flushes a large file as it is written,
  // before its commit, starts several flushes and waits for one that lags behind.
  std::string bytes((21u << 20) + 1, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 8);
  {
    auto replacement = files_->CreateReplacement(In("large.bin"));
    ASSERT_TRUE(replacement);
    size_t at = 0;
    for (const size_t chunk : {20000u, 1u, 300000u, 19999u}) {
      ASSERT_TRUE(replacement->Write(bytes.data() + at, chunk));
      at += chunk;
    }
    for (; at < bytes.size(); at += std::min<size_t>(1u << 20, bytes.size() - at)) {
      ASSERT_TRUE(replacement->Write(bytes.data() + at, std::min<size_t>(1u << 20, bytes.size() - at)));
    }
    ASSERT_TRUE(replacement->Commit());
  }
  auto file = files_->OpenForReading(In("large.bin"));
  ASSERT_TRUE(file);
  std::string back;
  std::string chunk(20000, '\0');
  while (const size_t read = file->Read(chunk.data(), chunk.size())) back.append(chunk.data(), read);
  EXPECT_TRUE(back == bytes) << "read back " << back.size() << " bytes";
  const auto readAt = [&](uint64_t position, size_t size) {
    std::string part(size, '\0');
    if (!file->Seek(position)) return std::string("<seek failed>");
    part.resize(file->Read(part.data(), size));
    return part;
  };
  EXPECT_TRUE(readAt(0, 10) == bytes.substr(0, 10));
  EXPECT_TRUE(readAt(bytes.size() - 11, 20000) == bytes.substr(bytes.size() - 11));
  EXPECT_TRUE(readAt(bytes.size() + 5, 10).empty());
  EXPECT_TRUE(readAt(100, 50) == bytes.substr(100, 50));
  EXPECT_TRUE(readAt(120, 300000) == bytes.substr(120, 300000));
  EXPECT_TRUE(readAt(10, 10) == bytes.substr(10, 10));
  std::string onwards(2100000, '\0');  // larger than two blocks, after a small read
  onwards.resize(file->Read(onwards.data(), onwards.size()));
  EXPECT_TRUE(onwards == bytes.substr(20, 2100000));
  EXPECT_TRUE(readAt(600000, 20000) == bytes.substr(600000, 20000));
  EXPECT_TRUE(readAt(2100000, 20000) == bytes.substr(2100000, 20000));
  // Back into what was just read, then from inside it on past its end, as a delta's source
  // is read: stretches with jumps both ways, most of them short.
  EXPECT_TRUE(readAt(2100500, 100) == bytes.substr(2100500, 100));
  EXPECT_TRUE(readAt(2115000, 70000) == bytes.substr(2115000, 70000));
  for (uint64_t at = 3000000; at < 3400000; at += 9000) {
    EXPECT_TRUE(readAt(at, 300) == bytes.substr(at, 300));
    EXPECT_TRUE(readAt(at - 4000, 200) == bytes.substr(at - 4000, 200));
  }
}

// The journal's appends: in their order whether each waits for its flush or not, also when
// the file is let go with a flush still running; the file can be deleted once let go.
TEST_P(FilesContract, AppendsKeepTheirOrderWhetherTheyWaitForTheirFlushOrNot) {
  {
    auto file = files_->OpenForAppending(In("journal.txt"));
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Append("one\r\n"));
    EXPECT_TRUE(file->AppendFlushingLater("two\r\n"));
    EXPECT_TRUE(file->AppendFlushingLater("three\r\n"));
    EXPECT_TRUE(file->WaitFlushed());
    EXPECT_TRUE(file->AppendFlushingLater("four\r\n"));
  }
  auto again = files_->OpenForAppending(In("journal.txt"));
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->Append("five\r\n"));
  again.reset();
  EXPECT_EQ(Read("journal.txt"), "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\n");
  EXPECT_TRUE(files_->RemoveFile(In("journal.txt")));
}

// The journal's own file: made new only, trusted when read back through the check, and
// replaced whole by a rename that is on the disk when it returns.
TEST_P(FilesContract, AProtectedFileIsMadeNewReadBackTrustedAndReplacedWhole) {
  {
    bool ownerRefused = true;
    auto file = files_->CreateProtectedForAppending(In("journal.txt"), &ownerRefused);
    ASSERT_TRUE(file);
    EXPECT_FALSE(ownerRefused);
    EXPECT_TRUE(file->Append("one\r\n"));
  }
  EXPECT_FALSE(files_->CreateProtectedForAppending(In("journal.txt"), nullptr)) << "a file is there already";
  const ProtectedFileRead read = files_->ReadProtectedFile(In("journal.txt"));
  EXPECT_EQ(read.trust, backend_->ShowsOwners() ? FileTrust::Trusted : FileTrust::ForeignOwner);
  // The bytes come whatever the trust, for a caller that authenticates them itself.
  EXPECT_EQ(read.bytes, "one\r\n");
  EXPECT_EQ(files_->ReadProtectedFile(In("absent.txt")).trust, FileTrust::Missing);
  {
    auto rewrite = files_->CreateProtectedForAppending(In("journal.txt.tmp"), nullptr);
    ASSERT_TRUE(rewrite && rewrite->Append("two\r\n"));
  }
  EXPECT_TRUE(files_->MoveFileReplacing(In("journal.txt.tmp"), In("journal.txt")));
  EXPECT_EQ(files_->ReadProtectedFile(In("journal.txt")).bytes, "two\r\n");
  EXPECT_FALSE(files_->FileExists(In("journal.txt.tmp")));
  EXPECT_TRUE(files_->FlushFile(In("journal.txt")));
  EXPECT_FALSE(files_->FlushFile(In("absent.txt")));
  EXPECT_TRUE(files_->RemoveFile(In("journal.txt")));
}

TEST_P(FilesContract, AReplacementShowsOnlyOnceCommitted) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("target.txt"), "old"));
  {
    auto replacement = files_->CreateReplacement(In("target.txt"));
    ASSERT_TRUE(replacement);
    ASSERT_TRUE(replacement->Write("new ", 4));
    EXPECT_EQ(Read("target.txt"), "old");
    ASSERT_TRUE(replacement->Write("bytes", 5));
    EXPECT_TRUE(replacement->Commit());
  }
  EXPECT_EQ(Read("target.txt"), "new bytes");
  {
    auto abandoned = files_->CreateReplacement(In("target.txt"));
    ASSERT_TRUE(abandoned);
    ASSERT_TRUE(abandoned->Write("half", 4));
  }
  EXPECT_EQ(Read("target.txt"), "new bytes");
  {
    auto fresh = files_->CreateReplacement(In("fresh.txt"));
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(files_->FileExists(In("fresh.txt")));
    ASSERT_TRUE(fresh->Write("", 0));
    EXPECT_TRUE(fresh->Commit());
  }
  EXPECT_EQ(Read("fresh.txt"), "");
  auto names = backend_->List(scratch_);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"fresh.txt", "target.txt"}));
  EXPECT_FALSE(files_->CreateReplacement(In("missing\\x.txt")));
}

// Files written side by side, each past the size at which a backend starts flushing it in
// the background, with a journal flushing between them: committed out of order, one let go
// with its flush still under way.
TEST_P(FilesContract, FilesFlushingAtOnceKeepTheirOwnBytes) {
  const std::string block(3u << 20, 'a');
  auto journal = files_->OpenForAppending(In("journal.txt"));
  ASSERT_TRUE(journal);
  std::unique_ptr<OutputFile> outputs[3];
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 3; ++i) {
      if (!outputs[i]) ASSERT_TRUE(outputs[i] = files_->CreateReplacement(In("file" + std::to_string(i))));
      ASSERT_TRUE(outputs[i]->Write(block.data(), block.size() - static_cast<size_t>(i)));
      ASSERT_TRUE(journal->AppendFlushingLater(std::to_string(round * 3 + i)));
    }
  }
  outputs[1].reset();
  EXPECT_TRUE(outputs[2]->Commit());
  EXPECT_TRUE(outputs[0]->Commit());
  EXPECT_TRUE(journal->WaitFlushed());
  journal.reset();
  EXPECT_EQ(Read("file0"), block + block + block);
  EXPECT_FALSE(files_->FileExists(In("file1")));
  EXPECT_EQ(Read("file2").size(), 3 * (block.size() - 2));
  EXPECT_EQ(Read("journal.txt"), "012345678");
  EXPECT_EQ(backend_->List(scratch_).size(), 3u);
}

// An archive's replacements are all written and finished (their flushes under way at once)
// before the first is committed: each keeps its own bytes, small or past a backend's
// background flushing size, and one dropped after its finish leaves nothing.
TEST_P(FilesContract, ReplacementsFinishedTogetherAreCommittedLaterWithTheirOwnBytes) {
  std::vector<std::unique_ptr<OutputFile>> outputs;
  const auto bytesOf = [](size_t i) { return std::string(i == 3 ? (5u << 20) + 3 : 4096 + i, static_cast<char>('a' + i)); };
  for (size_t i = 0; i < 6; ++i) {
    ASSERT_TRUE(files_->ReplaceWholeFile(In("page" + std::to_string(i)), "previous"));
    outputs.push_back(files_->CreateReplacement(In("page" + std::to_string(i))));
    ASSERT_TRUE(outputs.back());
    const std::string bytes = bytesOf(i);
    ASSERT_TRUE(outputs.back()->Write(bytes.data(), bytes.size()));
    ASSERT_TRUE(outputs.back()->Finish());
  }
  outputs[4].reset();
  for (size_t i : {5, 0, 1, 2, 3}) EXPECT_TRUE(outputs[i]->Commit()) << i;
  outputs.clear();
  for (size_t i : {0, 1, 2, 3, 5}) EXPECT_TRUE(Read("page" + std::to_string(i)) == bytesOf(i)) << i;
  EXPECT_EQ(Read("page4"), "previous");
  EXPECT_EQ(backend_->List(scratch_).size(), 6u) << "no temporary file left";
}

TEST_P(FilesContract, ListingMatchesWildcardsWithoutRegardToCase) {
  for (const char* name : {"Raccourci.lnk", "Autre.LNK", "notes.txt", "run.exe", "rn.exe", "ruun.exe"}) {
    ASSERT_TRUE(files_->ReplaceWholeFile(In(name), "x"));
  }
  ASSERT_TRUE(files_->MakeDirectory(In("Dossier.lnk")));
  ASSERT_TRUE(files_->MakeDirectory(In("Sub")));
  ASSERT_TRUE(files_->ReplaceWholeFile(In("Sub\\inner.lnk"), "x"));

  // Sorted, as only NTFS lists in name order; "d" marks a directory.
  const auto list = [&](const std::string& pattern) {
    std::vector<std::string> names;
    auto listing = files_->ListMatching(pattern);
    EXPECT_TRUE(listing) << pattern;
    while (listing) {
      const auto entry = listing->Next();
      if (!entry) break;
      names.push_back(entry->name + (entry->isDirectory ? " d" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(list(In("*.lnk")), (Names{"Autre.LNK", "Dossier.lnk d", "Raccourci.lnk"})) << "one level only";
  EXPECT_EQ(list(In("rac*.LNK")), Names{"Raccourci.lnk"});
  EXPECT_EQ(list(In("r?n.exe")), Names{"run.exe"});
  EXPECT_EQ(list(In("R*N.EXE")), (Names{"rn.exe", "run.exe", "ruun.exe"}));
  EXPECT_EQ(list(In("*")), (Names{"Autre.LNK", "Dossier.lnk d", "Raccourci.lnk", "Sub d", "notes.txt", "rn.exe",
                                  "run.exe", "ruun.exe"}))
      << "no \".\" or \"..\"";
  EXPECT_EQ(list(In("*.*")), list(In("*"))) << "names without an extension too";
  EXPECT_EQ(list(In("Sub\\*.lnk")), Names{"inner.lnk"});
  EXPECT_EQ(list(In("*.zip")), Names{});
  EXPECT_EQ(list(In("Missing\\*.lnk")), Names{});
}

TEST_P(FilesContract, AHeldDirectoryCannotBeRemovedUntilReleasedAndALinkIsNeverHeld) {
  ASSERT_TRUE(files_->MakeDirectory(In("held")));
  HeldDirectoryOpen open = files_->HoldDirectory(In("held"));
  ASSERT_EQ(open.status, DirectoryHold::Held);
  ASSERT_TRUE(open.held);
  // Its entries are made and removed as ever.
  EXPECT_TRUE(files_->ReplaceWholeFile(In("held\\inside"), "x"));
  EXPECT_TRUE(files_->RemoveFile(In("held\\inside")));
  if (backend_->HoldRefusesRemoval()) EXPECT_FALSE(files_->RemoveEmptyDirectory(In("held")));
  EXPECT_TRUE(files_->DirectoryExists(In("held")));
  open.held.reset();
  EXPECT_TRUE(files_->RemoveEmptyDirectory(In("held")));

  EXPECT_EQ(files_->HoldDirectory(In("missing")).status, DirectoryHold::Missing);
  ASSERT_TRUE(files_->ReplaceWholeFile(In("file"), "x"));
  EXPECT_EQ(files_->HoldDirectory(In("file")).status, DirectoryHold::Missing);
  ASSERT_TRUE(files_->MakeDirectory(In("target")));
  if (backend_->MakeDirectoryLink(In("link"), In("target"))) {
    EXPECT_EQ(files_->HoldDirectory(In("link")).status, DirectoryHold::Linked);
  }
}

// Below a held directory the Win32 backend names files relative to its handle: each change
// still lands at its name, with the same refusals as by path.
TEST_P(FilesContract, BelowAHeldDirectoryEveryChangeLandsWhereItIsNamed) {
  HeldDirectoryOpen made = files_->MakeHeldDirectory(In("made"));
  ASSERT_EQ(made.status, DirectoryHold::Held);
  EXPECT_EQ(files_->MakeHeldDirectory(In("made")).status, DirectoryHold::Refused);
  EXPECT_EQ(files_->MakeHeldDirectory(In("missing\\made")).status, DirectoryHold::Missing);
  if (backend_->HoldRefusesRemoval()) EXPECT_FALSE(files_->RemoveEmptyDirectory(In("made")));
  const auto at = [&](const std::string& name) { return In("made\\" + name); };

  ASSERT_TRUE(files_->ReplaceWholeFile(at("a"), "first"));
  ASSERT_TRUE(files_->ReplaceWholeFile(at("a"), "second"));
  backend_->SetReadOnly(at("a"), true);
  EXPECT_FALSE(files_->ReplaceWholeFile(at("a"), "third"));
  backend_->SetReadOnly(at("a"), false);
  {
    auto dropped = files_->CreateReplacement(at("a"));
    ASSERT_TRUE(dropped && dropped->Write("x", 1));
  }
  ASSERT_TRUE(files_->MoveFileTo(at("a"), at("b")));
  ASSERT_TRUE(files_->ReplaceWholeFile(at("c"), "c"));
  EXPECT_FALSE(files_->MoveFileTo(at("c"), at("b")));
  ASSERT_TRUE(files_->MoveFileReplacing(at("c"), at("b")));
  {
    auto log = files_->OpenForAppending(at("log"));
    ASSERT_TRUE(log && log->Append("1") && log->Append("2"));
  }
  ASSERT_TRUE(files_->MakeDirectory(at("sub")));
  ASSERT_TRUE(files_->ReplaceWholeFile(at("sub\\inner"), "x"));
  EXPECT_FALSE(files_->RemoveEmptyDirectory(at("sub")));
  EXPECT_FALSE(files_->RemoveFile(at("sub")));
  ASSERT_TRUE(files_->RemoveFile(at("sub\\inner")));
  ASSERT_TRUE(files_->RemoveEmptyDirectory(at("sub")));
  std::vector<std::string> names = backend_->List(In("made"));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"b", "log"}));
  EXPECT_EQ(Read("made\\b"), "c");
  EXPECT_EQ(Read("made\\log"), "12");
  EXPECT_TRUE(files_->FileExists(at("b")));
  EXPECT_FALSE(files_->DirectoryExists(at("b")));
  EXPECT_FALSE(files_->FileExists(at("c")));
  EXPECT_FALSE(files_->FileExists(at("missing\\c")));

  ASSERT_TRUE(files_->RemoveFile(at("b")));
  ASSERT_TRUE(files_->MoveFileTo(at("log"), In("log")));
  EXPECT_EQ(backend_->List(In("made")), std::vector<std::string>{});
  EXPECT_EQ(Read("log"), "12");
  made.held.reset();
  EXPECT_TRUE(files_->RemoveEmptyDirectory(In("made")));
}

TEST_P(FilesContract, AFileKeepsItsIdWhenRenamedAndIsDeletedByItOnlyWhileItIsThatFile) {
  ASSERT_TRUE(files_->ReplaceWholeFile(In("a"), "first"));
  const std::optional<FileId> id = files_->FileIdOf(In("a"));
  ASSERT_TRUE(id);
  EXPECT_EQ(files_->FileIdOf(In("a")), id);
  ASSERT_TRUE(files_->MoveFileTo(In("a"), In("b")));
  EXPECT_EQ(files_->FileIdOf(In("b")), id);
  // Another file at the first name, made anew or replaced: another ID.
  ASSERT_TRUE(files_->ReplaceWholeFile(In("a"), "second"));
  EXPECT_NE(files_->FileIdOf(In("a")), id);
  EXPECT_FALSE(files_->FileIdOf(In("missing")));
  EXPECT_FALSE(files_->FileIdOf(scratch_));

  EXPECT_FALSE(files_->RemoveFileIfSame(In("a"), *id));
  EXPECT_EQ(Read("a"), "second");
  backend_->SetReadOnly(In("b"), true);
  EXPECT_FALSE(files_->RemoveFileIfSame(In("b"), *id));
  backend_->SetReadOnly(In("b"), false);
  EXPECT_TRUE(files_->RemoveFileIfSame(In("b"), *id));
  EXPECT_FALSE(files_->FileExists(In("b")));
}

}  // namespace varno::fake
