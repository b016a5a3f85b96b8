// Archives, the file steps and the uninstall record on a real disk, through the Win32 backend.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/ansi_text.h"
#include "base/update_error.h"
#include "steps/archive_extraction.h"
#include "package/archive_writer.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "steps/file_steps.h"
#include "support/memory_machine.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

using Lines = std::vector<std::string>;

std::string Pattern(size_t size, char seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
  return bytes;
}

Lines Sorted(Lines names) {
  std::sort(names.begin(), names.end());
  return names;
}

class Win32StepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(state.packageDir.c_str(), nullptr);
    CreateDirectoryA(state.installDir.c_str(), nullptr);
  }
  void TearDown() override {
    for (HANDLE handle : held) CloseHandle(handle);
  }
  void Archive(const std::string& name, const std::vector<ArchiveSource>& members) {
    ASSERT_FALSE(WriteArchive(files, JoinPath(state.packageDir, name), members));
  }
  std::string Installed(const std::string& relative) { return ReadBytes(JoinPath(state.installDir, relative)); }
  void Install(const std::string& relative, const std::string& bytes) {
    WriteBytes(JoinPath(state.installDir, relative), bytes);
  }
  // Opened with no sharing, as a running program holds its files.
  void HoldOpen(const std::string& relative) {
    held.push_back(CreateFileA(JoinPath(state.installDir, relative).c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  }

  ScratchDirectory scratch;
  win32::Win32FileSystem files;
  MemoryMachine machine;
  Platform platform{files, machine.registry, machine.shell, machine.dialogs, machine.window, machine.processes,
                    machine.libraries, machine.system, machine.holders};
  RunState state{scratch.In("Package"), scratch.In("Package\\MjaIni.ini"), scratch.In("Varnolith")};
  WriteLogList record;
  std::vector<HANDLE> held;
};

// A file the run cannot replace is no longer passed over: the step raises, naming it, and
// the file keeps its content (the driver then takes back what was written before it).
TEST_F(Win32StepsTest, FileCopyWritesExactBytesAndRaisesOnAFileItCannotReplace) {
  Install("ro.dll", "read-only");
  SetFileAttributesA(JoinPath(state.installDir, "ro.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  Install("busy.dll", "in use");
  HoldOpen("busy.dll");
  Install("old.dat", "previous content");
  const auto raised = [&] {
    try {
      FileCopy(platform, state, record);
    } catch (const UpdateError& error) {
      return std::string(error.what());
    }
    return std::string("<no error>");
  };
  Archive("sor_ti1.slp", {MemberFromBytes("a.dll", Pattern(40000, 'a')), MemberFromBytes("Missing\\x.txt", "x"),
                          MemberFromBytes("old.dat", ""), MemberFromBytes("b.dat", Pattern(20001, 'b')),
                          MemberFromBytes("ro.dll", "new")});
  EXPECT_EQ(raised(), "Impossible de créer le fichier " + JoinPath(state.installDir, "ro.dll"));
  EXPECT_EQ(Installed("a.dll"), Pattern(40000, 'a'));
  EXPECT_EQ(Installed("b.dat"), Pattern(20001, 'b'));
  EXPECT_EQ(Installed("old.dat"), "");
  EXPECT_EQ(Installed("ro.dll"), "read-only");
  SetFileAttributesA(JoinPath(state.installDir, "ro.dll").c_str(), FILE_ATTRIBUTE_NORMAL);

  Archive("sor_ti1.slp", {MemberFromBytes("busy.dll", "new")});
  EXPECT_EQ(raised(), "Impossible de créer le fichier " + JoinPath(state.installDir, "busy.dll"));
  for (HANDLE handle : held) CloseHandle(handle);
  held.clear();
  EXPECT_EQ(Installed("busy.dll"), "in use");
  EXPECT_EQ(Sorted(ListDirectory(state.installDir)), (Lines{"a.dll", "b.dat", "busy.dll", "old.dat", "ro.dll"}))
      << "no temporary file left, no directory made";
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(Win32StepsTest, AnArchiveThatWouldLeaveTheTargetWritesNothingAnywhere) {
  std::string bytes = ArchiveBytes({MemberFromBytes("good.dll", "g"), MemberFromBytes("evil.dll", "e")});
  bytes.replace(bytes.find("evil.dll"), 8, "..\\e.dll");
  WriteBytes(JoinPath(state.packageDir, "sor_ti1.slp"), bytes);
  FileCopy(platform, state, record);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].text, "Fichier archive non reconnu !");
  EXPECT_TRUE(ListDirectory(state.installDir).empty());
  EXPECT_EQ(Sorted(ListDirectory(scratch.Path())), (Lines{"Package", "Varnolith"}));
  EXPECT_EQ(record.Lines(), Lines{"[SurFile]"});
}

TEST_F(Win32StepsTest, DirectoriesAndSubDirectoryArchivesEndInTheSavedRecord) {
  WriteBytes(state.packageDescriptionPath,
             "1\r\n1021\r\n" + std::string(19, '\n') + "[subdir]\r\nData\r\nData\\Images\r\n[insubdir]\r\nData\\Images : pics.slp\r\n");
  Archive("pics.slp", {MemberFromBytes("a.png", "A"), MemberFromBytes("b.png", Pattern(60000, 'p'))});
  const std::string recordPath = UninstallRecordPath(state.installDir);
  WriteBytes(recordPath, "[SurFile]\nold.dll\n[****]");
  record.LoadFromFile(files, recordPath);
  CreateNewDir(platform, state, record);
  EXPECT_TRUE(CopyInNewDir(platform, state, record));
  record.AppendRunMarker();
  record.SaveToFile(files, recordPath);

  EXPECT_EQ(Installed("Data\\Images\\b.png"), Pattern(60000, 'p'));
  EXPECT_EQ(ReadBytes(recordPath),
            "[SurFile]\r\nold.dll\r\n[****]\r\n[SurDir]\r\nData\\Images\r\nData\r\n[SurFileDir]\r\nb.png\r\na.png\r\n"
            "[****]\r\n");
}

// In a held directory a committed replacement keeps its file until its group is in place;
// the same name later in the archive, in another case, still replaces it.
TEST_F(Win32StepsTest, InAHeldDirectoryTheSameNameTwiceEndsAsTheLastMember) {
  const HeldDirectoryOpen hold = files.HoldDirectory(state.installDir);
  ASSERT_EQ(hold.status, DirectoryHold::Held);
  Install("same.txt", "installed");
  Archive("sor_ti1.slp", {MemberFromBytes("same.txt", "first"), MemberFromBytes("other.txt", "o"),
                          MemberFromBytes("SAME.TXT", Pattern(30000, 's'))});
  FileCopy(platform, state, record);
  EXPECT_EQ(Installed("same.txt"), Pattern(30000, 's'));
  EXPECT_EQ(Sorted(ListDirectory(state.installDir)), (Lines{"other.txt", "same.txt"})) << "no temporary file left";
}

TEST_F(Win32StepsTest, AFailedRecordSaveRaisesAndKeepsTheOldRecord) {
  const std::string recordPath = UninstallRecordPath(state.installDir);
  WriteBytes(recordPath, "[SurFile]\r\n[****]\r\n");
  SetFileAttributesA(recordPath.c_str(), FILE_ATTRIBUTE_READONLY);
  record.LoadFromFile(files, recordPath);
  record.RecordEntry(0, "new.dll");
  try {
    record.SaveToFile(files, recordPath);
    ADD_FAILURE() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible de cr\xE9" "er le fichier " + recordPath);
  }
  SetFileAttributesA(recordPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadBytes(recordPath), "[SurFile]\r\n[****]\r\n");
  EXPECT_EQ(ListDirectory(state.installDir), Lines{"UninstCgg.slt"});
}

}  // namespace
}  // namespace varno::fake
