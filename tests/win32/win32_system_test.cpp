// The shell, system and process services against the real system.
#include <gtest/gtest.h>

#include <vector>

#include "app/form1.h"
#include "base/ansi_text.h"
#include "platform/portable_sha256.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_processes.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_system.h"
#include "shortcuts/desktop_directory.h"
#include "support/memory_machine.h"
#include "win32/scratch_directory.h"

namespace varno::fake {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && AnsiSameText(text.substr(text.size() - end.size()), end);
}

TEST(Win32Shell, GivesTheUsersDesktopAsAnExistingDirectory) {
  win32::Win32Shell shell(nullptr);
  win32::Win32FileSystem files;
  const std::string desktop = UserDesktopPath(shell);
  EXPECT_TRUE(EndsWith(desktop, "\\Desktop")) << desktop;
  EXPECT_NE(desktop.back(), '\\');
  EXPECT_TRUE(files.DirectoryExists(desktop)) << desktop;
  EXPECT_EQ(SpecialFolderPath(shell, kCsidlDesktop), desktop);
}

TEST(Win32Shell, GivesNothingForAFolderWithoutPath) {
  win32::Win32Shell shell(nullptr);
  EXPECT_EQ(SpecialFolderPath(shell, 0x0013 /* CSIDL_NETHOOD's virtual sibling */ + 0x60), "");
}

TEST(Win32System, GivesTheDirectoriesWithoutTrailingBackslash) {
  win32::Win32System system;
  win32::Win32FileSystem files;
  const std::string windows = system.WindowsDirectory();
  const std::string systemDir = system.SystemDirectory();
  EXPECT_TRUE(files.DirectoryExists(windows)) << windows;
  EXPECT_TRUE(files.DirectoryExists(systemDir)) << systemDir;
  EXPECT_NE(windows.back(), '\\');
  EXPECT_NE(systemDir.back(), '\\');
  EXPECT_TRUE(AnsiSameText(systemDir.substr(0, windows.size()), windows)) << systemDir;
  EXPECT_TRUE(files.FileExists(JoinPath(systemDir, "kernel32.dll")));
}

TEST(Win32System, GivesTheCurrentDirectoryAndTheProgramsPath) {
  win32::Win32System system;
  ScratchDirectory scratch;
  const std::string previous = system.CurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.Path().c_str()));
  EXPECT_TRUE(AnsiSameText(system.CurrentDirectory(), scratch.Path())) << system.CurrentDirectory();
  SetCurrentDirectoryA(previous.c_str());
  EXPECT_TRUE(EndsWith(system.ModuleFileName(), ".exe")) << system.ModuleFileName();
  EXPECT_EQ(system.ModuleFileName()[1], ':');
}

TEST(Win32System, ReportsAWindowsNtVersion) {
  win32::Win32System system;
  const auto version = system.WindowsVersion();
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(version->platformId, 2u);
  EXPECT_GE(version->major, 5u);
}

TEST(Win32System, ReadsTheRegionalSeparators) {
  win32::Win32System system;
  const RegionalSettings settings = system.Regional();
  EXPECT_NE(settings.decimalSeparator, '\0');
  EXPECT_NE(settings.dateSeparator, '\0');
  EXPECT_NE(settings.timeSeparator, '\0');
  EXPECT_NE(settings.shortDateFormat.find('y'), std::string::npos) << settings.shortDateFormat;
}

// The companion program is started from the current directory and not waited for.
// Tasks run in their order on one other thread; a wait, or the worker's end, waits for the
// last one, so what it wrote is there to read. A digest taken there uses SSE instructions,
// which fault on a stack the thread was not given aligned.
TEST(Win32System, AWorkerRunsItsTasksInTurnOnAnotherThread) {
  const std::string bytes(100000, 'v');
  std::string digest;
  win32::Win32System().MakeWorker()->Start([&] { digest = BytesSha256Hex(bytes); });
  EXPECT_EQ(digest, BytesSha256Hex(bytes));

  std::vector<int> done;
  bool elsewhere = true;
  const DWORD caller = GetCurrentThreadId();
  {
    auto worker = win32::Win32System().MakeWorker();
    for (int i = 0; i < 100; ++i) {
      worker->Start([&done, &elsewhere, caller, i] {
        if (i % 10 == 0) Sleep(1);
        elsewhere = elsewhere && GetCurrentThreadId() != caller;
        done.push_back(i);
      });
      if (i == 50) {
        worker->Wait();
        EXPECT_EQ(done.size(), 51u);
      }
    }
  }
  ASSERT_EQ(done.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(done[static_cast<size_t>(i)], i);
  EXPECT_TRUE(elsewhere);
}

TEST(Win32Processes, LaunchActionProgramStartsActionExeOfTheCurrentDirectory) {
  const std::string sample = JoinPath(WithoutTrailingBackslash(VARNO_SAMPLES_DIR), "Action.exe");
  ScratchDirectory scratch;
  ASSERT_TRUE(CopyFileA(sample.c_str(), scratch.In("Action.exe").c_str(), FALSE)) << sample;
  const std::string previous = CurrentDirectoryPath();
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.Path().c_str()));

  win32::Win32FileSystem files;
  win32::Win32Processes processes;
  MemoryMachine machine;  // only the files and the process start are real here
  Platform platform{files,          machine.registry, machine.shell,     machine.dialogs,
                    machine.window, processes,        machine.libraries, machine.system, machine.holders};
  LaunchActionProgram(platform);

  bool ran = false;
  for (int i = 0; i < 200 && !ran; ++i) {
    ran = ReadBytes(scratch.In("Action.txt")) == "Action.exe a \xE9t\xE9 lanc\xE9\r\n";
    if (!ran) Sleep(50);
  }
  SetCurrentDirectoryA(previous.c_str());
  EXPECT_TRUE(ran) << "Action.exe left no trace in " << scratch.Path();
}

TEST(Win32Processes, AProgramThatCannotStartIsReportedAsFalse) {
  win32::Win32Processes processes;
  ScratchDirectory scratch;
  WriteBytes(scratch.In("Action.exe"), "not a program");
  EXPECT_FALSE(processes.StartProgram(scratch.In("Action.exe")));
  EXPECT_FALSE(processes.StartProgram(scratch.In("absent.exe")));
}

}  // namespace
}  // namespace varno::fake
