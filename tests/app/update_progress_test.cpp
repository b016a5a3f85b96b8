// The progress bar over all the package's archives, and the close box while the update
// works: Oui takes the run back, Non lets it complete.
#include "app/update_progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "app/form1.h"
#include "package/archive_writer.h"
#include "steps/archive_extraction.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kTestInstallDir;

constexpr uint64_t kLargeSize = 5 * kArchiveCopyBufferSize;  // the window answers inside it
constexpr uint64_t kPicsSize = 5 * kArchiveCopyBufferSize / 2;
constexpr uint64_t kTotal = kLargeSize + 3 + kPicsSize;

class UpdateProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    machine.files.AddFile(std::string(kTestInstallDir) + "\\UninstCgg.slt", "[SurFile]\r\nold.dll\r\n[****]\r\n");
    machine.files.AddFile(std::string(kTestInstallDir) + "\\large.bin", "previous data");
    fake::WritePackageDescription(machine, "2816090",
                                  "[subdir]\r\nData\r\n[insubdir]\r\nData : pics.slp\r\n[reg]\r\nPort: integer; 8080\r\n");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp",
                          ArchiveBytes({MemberFromBytes("large.bin", std::string(kLargeSize, 'L')),
                                        MemberFromBytes("new.dll", "new")}));
    machine.files.AddFile("C:\\Package\\pics.slp", ArchiveBytes({MemberFromBytes("logo.bmp", std::string(kPicsSize, 'P'))}));
  }

  // Runs the update as the program does; true when the run was interrupted.
  bool Run() {
    Platform platform = machine.platform();
    TForm1 form(platform, "WINDOWS NT");
    form.FormCreate();
    const bool interrupted = form.Interrupted();
    if (!machine.window.QuitRequested()) machine.window.RunMessageLoop([] {});
    form.FormDestroy();
    return interrupted;
  }

  // The installation as files and registry, without the run log and the window.
  std::string Installation() {
    std::istringstream lines(machine.Dump());
    std::string state, line;
    while (std::getline(lines, line) && line != "--- boxes") {
      if (line.find("VarnoMaJLog.txt") == std::string::npos) state += line + "\n";
    }
    return state;
  }

  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    std::istringstream in(machine.files.Content(std::string(kTestInstallDir) + "\\VarnoMaJLog.txt").value_or(""));
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find('\r')));
    return lines;
  }

  // The close box used once the bar reached at, and answered Oui.
  void ExpectInterruptionTakesTheRunBack(uint64_t at) {
    const std::string before = Installation();
    machine.window.closeAtProgress = at;
    machine.dialogs.answers = {true, true};  // install, then interrupt
    EXPECT_TRUE(Run());
    EXPECT_EQ(Installation(), before) << machine.Dump();
    ASSERT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
    EXPECT_EQ(machine.dialogs.shown[1].kind, BoxKind::Confirmation);
    EXPECT_EQ(machine.dialogs.shown[1].text, "Voulez-vous interrompre la mise à jour ?");
    EXPECT_TRUE(Logged("Mise à jour interrompue à la demande de l'utilisateur"));
    EXPECT_TRUE(Logged("Mise à jour annulée, installation restaurée")) << machine.Dump();
    EXPECT_EQ(machine.window.Caption(Control::Label1), "La mise à jour a été annulée");
    EXPECT_LT(machine.window.progressPositions.back(), kTotal);
    EXPECT_FALSE(machine.window.progressVisible);
    // The program ends: no message loop, no quit button.
    EXPECT_TRUE(machine.window.quitRequested);
    EXPECT_FALSE(machine.window.loopRan);
    EXPECT_FALSE(machine.window.Visible(Control::Button1));
  }

  bool Logged(const std::string& line) {
    const auto log = Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  fake::MemoryMachine machine;
};

TEST_F(UpdateProgressTest, TheBarCountsTheMainAndSubDirectoryArchivesAndHidesForQuitter) {
  EXPECT_FALSE(Run());
  const auto& positions = machine.window.progressPositions;
  EXPECT_EQ(machine.window.progressTotal, kTotal);
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), kTotal) << machine.Dump();
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  // The bar is not full once the main archive is written: the sub-directory's bytes follow.
  EXPECT_TRUE(std::any_of(positions.begin(), positions.end(),
                          [](uint64_t p) { return p > kLargeSize + 3 && p < kTotal; }));
  // One turn at least for every copy buffer written, so one large member never stalls it.
  EXPECT_GE(machine.window.turns, static_cast<int>(kTotal / kArchiveCopyBufferSize));
  EXPECT_TRUE(machine.window.Visible(Control::Button1));
  EXPECT_FALSE(machine.window.progressVisible);
}

TEST_F(UpdateProgressTest, TheCloseBoxAnsweredOuiInTheLargeMemberTakesTheRunBack) {
  ExpectInterruptionTakesTheRunBack(40000);
}

TEST_F(UpdateProgressTest, TheCloseBoxAnsweredOuiInTheSubDirectoryArchiveTakesBackTheMainArchiveToo) {
  ExpectInterruptionTakesTheRunBack(kLargeSize + 3 + kArchiveCopyBufferSize / 4);
}

TEST_F(UpdateProgressTest, TheCloseBoxAnsweredNonLetsTheUpdateComplete) {
  machine.window.closeAtProgress = 40000;
  machine.dialogs.answers = {true, false};
  EXPECT_FALSE(Run());
  EXPECT_EQ(machine.window.closeRequests, 1);
  EXPECT_EQ(machine.dialogs.shown.size(), 2u) << machine.Dump();
  EXPECT_EQ(machine.files.Content(std::string(kTestInstallDir) + "\\large.bin"), std::string(kLargeSize, 'L'));
  EXPECT_EQ(machine.files.Content(std::string(kTestInstallDir) + "\\Data\\logo.bmp"), std::string(kPicsSize, 'P'));
  EXPECT_TRUE(machine.window.Visible(Control::Button1)) << machine.Dump();
  EXPECT_FALSE(Logged("Mise à jour interrompue à la demande de l'utilisateur"));
}

}  // namespace
}  // namespace varno
