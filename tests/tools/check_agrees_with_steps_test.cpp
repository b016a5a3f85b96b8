// What "check" says of a line must be what the updater's own step does with it: the
// registry step and the directory step run on the in-memory machine beside the check, over
// hand-picked and generated lines.
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ansi_text.h"
#include "base/update_error.h"
#include "commands/check_command.h"
#include "shortcuts/shortcut_steps.h"
#include "steps/file_steps.h"
#include "steps/registry_step.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno::pack {
namespace {

using varno::fake::MemoryMachine;

enum class Verdict { Skipped, RecordedNotWritten, Written, Raises };

const char* Name(Verdict verdict) {
  switch (verdict) {
    case Verdict::Skipped: return "skipped";
    case Verdict::RecordedNotWritten: return "recorded, not written";
    case Verdict::Written: return "written";
    case Verdict::Raises: return "raises";
  }
  return "";
}

const RegionalSettings kFrench{',', '/', ':', "dd/MM/yyyy"};
constexpr int kYear = 2024;

Report CheckDescription(MemoryMachine& machine) {
  Report report;
  CheckPackage(machine.files, {varno::fake::kTestPackageDir, "pkg", kFrench, kYear}, report);
  return report;
}

bool Has(const Report& report, const std::string& code) {
  return std::any_of(report.Findings().begin(), report.Findings().end(),
                     [&](const Finding& finding) { return finding.code == code; });
}

Verdict CheckVerdict(const std::string& line) {
  MemoryMachine machine;
  varno::fake::WritePackageDescription(machine, "2816090", "[reg]\r\n" + line + "\r\n");
  const Report report = CheckDescription(machine);
  if (Has(report, "reg-value-rejected")) return Verdict::Raises;
  if (Has(report, "reg-type-not-written")) return Verdict::RecordedNotWritten;
  for (const char* code : {"reg-no-colon", "reg-no-name", "reg-no-semicolon", "reg-unknown-type"}) {
    if (Has(report, code)) return Verdict::Skipped;
  }
  return Verdict::Written;
}

Verdict StepVerdict(const std::string& line) {
  MemoryMachine machine;
  machine.system.regional = kFrench;
  machine.system.currentYear = kYear;
  varno::fake::WritePackageDescription(machine, "2816090", "[reg]\r\n" + line + "\r\n");
  RunState state;
  state.packageDir = varno::fake::kTestPackageDir;
  state.packageDescriptionPath = state.packageDir + "\\MjaIni.ini";
  WriteLogList record;
  Platform platform = machine.platform();
  try {
    MjaVarnoReg(platform, state, record);
  } catch (const UpdateError&) {
    return Verdict::Raises;
  }
  const std::string name = ParseRegEntry(line).name;
  if (name.empty() || !record.Contains(name)) return Verdict::Skipped;
  const bool written = machine.registry.Get(kHkeyLocalMachine, varno::fake::kProductKey, name).has_value();
  return written ? Verdict::Written : Verdict::RecordedNotWritten;
}

void ExpectSameVerdict(const std::string& line) {
  const Verdict step = StepVerdict(line);
  const Verdict check = CheckVerdict(line);
  EXPECT_EQ(Name(check), std::string(Name(step))) << "line \"" << line << "\"";
}

TEST(CheckAgreesWithTheRegistryStep, OnHandPickedLines) {
  for (const char* line :
       {"Version: string; 5.2", "Version:string;5.2", "Name: String; x", "Port: int; 1", "Port: INTEGER; 8080",
        "Port: integer; abc", "Port integer; 1", " : integer; 1", "Port: integer 1", "Port: number; 1",
        "Flag: bool; peut-\xEAtre", "Flag: bool; True", "Flag: bool;True", "Ratio: float; 0,5", "Ratio: float; 0.5",
        "Ratio: float; 1.5.2", "Start: time; 8h30", "Start: time; 25h00", "Day: date; 31/12/2024",
        "Day: date; 31/02/2024", "Day: date; 31-12", "When: datetime; 31/12/2024 14:30", "When: datetime; 14h30",
        "X: tim; 1", "X: ; 1", "X:", "X: string integer; 1", "X: date time; 1"}) {
    ExpectSameVerdict(line);
  }
}

TEST(CheckAgreesWithTheRegistryStep, OnGeneratedLines) {
  const std::vector<std::string> names = {"Port", "", " ", "A b"};
  const std::vector<std::string> colons = {": ", ":", ":x", " :  ", ""};
  const std::vector<std::string> types = {"string", "String", "integer", "Int", "bool", "BOOL", "float",
                                          "date",   "datetime", "time", "tim", "ring", "xyz", ""};
  const std::vector<std::string> semicolons = {"; ", ";", ";x", " ;\t", ""};
  const std::vector<std::string> values = {"1",   "abc", "0,5",  "1.5",        "True", "faux",  "31/12/2024",
                                           "14h30", "",  "25:00", "12/31/2024", "8",    "-0x10", "1e3"};
  std::mt19937 random(20240229);
  const auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
  };
  for (int i = 0; i < 400; ++i) {
    ExpectSameVerdict(pick(names) + pick(colons) + pick(types) + pick(semicolons) + pick(values));
  }
}

// With every parent listed somewhere in "[subdir]", the lines "check" flags on an
// installation that has none of them are exactly those the step does not create.
TEST(CheckAgreesWithTheDirectoryStep, OnEveryOrderOfATree) {
  std::vector<std::string> tree = {"A", "A\\B", "A\\B\\C", "a\\d", "E", "E\\F"};
  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    std::shuffle(tree.begin(), tree.end(), random);
    MemoryMachine machine;
    const std::string install = "C:\\Install";
    machine.files.AddDirectory(install);
    std::string section = "[subdir]\r\n";
    for (const std::string& line : tree) section += line + "\r\n";
    varno::fake::WritePackageDescription(machine, "2816090", section);

    std::set<int> flagged;
    const Report report = CheckDescription(machine);
    for (const Finding& finding : report.Findings()) {
      if (finding.code == "subdir-order") flagged.insert(finding.line);
    }
    RunState state;
    state.packageDir = varno::fake::kTestPackageDir;
    state.packageDescriptionPath = state.packageDir + "\\MjaIni.ini";
    state.installDir = install;
    WriteLogList record;
    Platform platform = machine.platform();
    CreateNewDir(platform, state, record);
    std::set<int> missing;
    for (size_t i = 0; i < tree.size(); ++i) {
      if (!machine.files.DirectoryExists(install + "\\" + tree[i])) missing.insert(static_cast<int>(i) + 23);
    }
    EXPECT_EQ(flagged, missing) << ::testing::PrintToString(tree);
  }
}

// A shortcut line "check" flags for its missing ":" is one whose shortcut points at the
// installation directory itself, and one flagged for its missing ";" makes none.
TEST(CheckAgreesWithTheShortcutStep, OnLinesWithAndWithoutTheirSeparators) {
  MemoryMachine machine;
  varno::fake::AddShellFolders(machine);
  const std::string group = JoinPath(varno::fake::kTestCommonPrograms, "Tolmerik");
  machine.files.AddDirectory(group);
  machine.files.AddDirectory(varno::fake::kTestInstallDir);
  varno::fake::WritePackageDescription(machine, "2816090",
                                          "[desk]\r\nAdmin\\Outil.exe: Outil\r\nSans deux-points\r\n  \r\n"
                                          "Setup.exe :Installer\r\n[programs]\r\nAide.exe: Aide; Tolmerik\r\n"
                                          "Sans point-virgule: X\r\nDoc.exe; Tolmerik\r\nNotes.exe: Notes ;Tolmerik\r\n");
  size_t pointAtInstallation = 0, makeNone = 0;
  const Report report = CheckDescription(machine);
  for (const Finding& finding : report.Findings()) {
    if (finding.code == "desk-no-colon" || finding.code == "programs-no-colon") ++pointAtInstallation;
    if (finding.code == "programs-no-semicolon") ++makeNone;
  }
  ASSERT_EQ(pointAtInstallation, 2u);
  ASSERT_EQ(makeNone, 1u);

  RunState state;
  state.packageDir = varno::fake::kTestPackageDir;
  state.packageDescriptionPath = state.packageDir + "\\MjaIni.ini";
  state.installDir = varno::fake::kTestInstallDir;
  WriteLogList record;
  Platform platform = machine.platform();
  ShellLink shellLink(platform);
  AddShellLink(platform, state, record, shellLink);
  size_t links = 0, atInstallation = 0;
  for (const std::string& folder : {std::string(varno::fake::kTestCommonDesktop), group}) {
    links += machine.files.List(folder).size();
  }
  for (const auto& save : machine.shell.saves) atInstallation += save.link.target == state.installDir + "\\" ? 1 : 0;
  EXPECT_EQ(atInstallation, pointAtInstallation) << machine.Dump();
  EXPECT_EQ(links, 7u - makeNone) << machine.Dump();  // seven entries that are not blank
}

}  // namespace
}  // namespace varno::pack
