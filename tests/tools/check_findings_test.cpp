// Each finding of "check" on a package that has the fault and on one without it, run
// against the in-memory machine's files.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commands/check_command.h"
#include "package/archive_writer.h"
#include "package/member_compression.h"
#include "support/memory_files.h"

namespace varno::pack {
namespace {

constexpr char kPackage[] = "C:\\Package";

// An archive of one compressed member; damaged, one bit of its stream flipped.
std::string CompressedArchive(bool damaged) {
  ArchiveSource source = MemberFromBytes("a.txt", std::string(5000, 'a'));
  std::string bytes = ArchiveBytes({DeflatedSource(source, DeflatedSize(source).value())});
  if (damaged) bytes[4 + 9 + 4] ^= 1;
  return bytes;
}

// A package on the in-memory disk: a description whose 21 header lines are clean unless a
// case changes one, sections below it, and archives beside it.
struct Package {
  std::vector<std::string> header = {"Varnolith", "2816090", "", "", "", "", "", "", "", "", "",
                                     "",          "",        "", "", "", "28", "", "2816080", "", "6.1"};
  std::vector<std::string> sections;
  std::string lineEnd = "\r\n";
  bool hasDescription = true;
  std::string rawDescription;  // used as it stands when not empty
  RegionalSettings regional{',', '/', ':', "dd/MM/yyyy"};
  fake::MemoryFileSystem files;

  Package() { files.AddDirectory(kPackage); }

  void AddArchive(const std::string& name, const std::vector<std::string>& members) {
    std::vector<ArchiveSource> sources;
    for (const std::string& member : members) sources.push_back(MemberFromBytes(member, "bytes of " + member));
    files.AddFile(std::string(kPackage) + "\\" + name, ArchiveBytes(sources));
  }

  Report Check() {
    if (hasDescription) {
      std::string text = rawDescription;
      if (text.empty()) {
        for (const std::string& line : header) text += line + lineEnd;
        for (const std::string& line : sections) text += line + lineEnd;
      }
      files.AddFile(std::string(kPackage) + "\\MjaIni.ini", text);
    }
    Report report;
    CheckPackage(files, {kPackage, "pkg", regional, 2024}, report);
    return report;
  }
};

std::string Dump(const Report& report) {
  std::string text;
  for (const Finding& finding : report.Findings()) text += "  " + FindingLine(finding) + "\n";
  return text.empty() ? "  (no findings)\n" : text;
}

std::vector<Finding> WithCode(const Report& report, const std::string& code) {
  std::vector<Finding> found;
  for (const Finding& finding : report.Findings()) {
    if (finding.code == code) found.push_back(finding);
  }
  return found;
}

TEST(CheckPackage, FindsNothingInACleanPackageWithEverySection) {
  Package package;
  package.sections = {"[subdir]",      "Data",         "Data\\Images", "",
                      "[insubdir]",    "Images : pics.slp",
                      "[desk]",        "Varnolith.exe: Varnolith",
                      "[programs]",    "Varnolith.exe: Varnolith; Tolmerik",
                      "[reg]",         "Version: string; 5.2",  "Port: INTEGER; 8080", "Flag: bool; True",
                      "Ratio: float; 0.5", "Start: time; 8h30", "Day: date; 31/12/2024",
                      "When: datetime; 31/12/2024 14:30"};
  package.AddArchive("sor_ti1.slp", {"Varnolith.exe", "Readme.txt"});
  package.AddArchive("pics.slp", {"a.png"});
  const Report report = package.Check();
  EXPECT_TRUE(report.Findings().empty()) << Dump(report);
  EXPECT_EQ(report.Status(), 0);
}

// A fault, the package that has it and the package that does not, and where the finding
// must point.
struct Case {
  const char* name;
  const char* code;
  Severity severity;
  std::function<void(Package&)> faulty;
  std::function<void(Package&)> sound;
  int line;  // 0: the finding concerns a whole file
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::function<void(Package&)> Sections(std::vector<std::string> lines) {
  return [lines](Package& p) { p.sections = lines; };
}
std::function<void(Package&)> HeaderLine(int number, std::string text) {
  return [number, text](Package& p) { p.header[number - 1] = text; };
}
// The header takes lines 1 to 21, so the first section line is line 22.
constexpr int kFirst = 22;

const Case kCases[] = {
    {"DescriptionMissing", "description-missing", Severity::Error, [](Package& p) { p.hasDescription = false; },
     [](Package&) {}, 0},
    {"DescriptionLongerThan16BitPositions", "description-long", Severity::Warning,
     [](Package& p) { p.sections.assign(32768 - 21, "x"); }, [](Package& p) { p.sections.assign(32767 - 21, "x"); },
     0},
    {"LoneCrInTheHeader", "description-lone-cr", Severity::Warning,
     [](Package& p) { p.header[4] += "\r"; p.header[4] += "still line 5 for the header"; },
     [](Package& p) { p.sections = {"[subdir]", "Data\rMore"}; }, 5},
    {"VersionNotAnInteger", "header-version", Severity::Error, HeaderLine(2, "1.5"), HeaderLine(2, "$2AF8DA"), 2},
    {"VersionMissing", "header-version", Severity::Error,
     [](Package& p) { p.rawDescription = "only one line\r\n"; }, HeaderLine(2, " -12"), 2},
    {"LowestFileVersionNotAnInteger", "header-min-file-version", Severity::Warning, HeaderLine(17, "2.8"),
     HeaderLine(17, "255"), 17},
    {"LowestFileVersionWithLowBitsZero", "header-min-file-version", Severity::Warning, HeaderLine(17, "256"),
     HeaderLine(17, "1"), 17},
    {"LowestFileVersionAbove255", "header-min-file-version", Severity::Warning, HeaderLine(17, "300"),
     HeaderLine(17, "44"), 17},
    {"LowestInstalledVersionEmpty", "header-min-installed-version", Severity::Warning, HeaderLine(19, ""),
     HeaderLine(19, "0"), 19},
    {"VersionLabelEmpty", "header-label-empty", Severity::Warning, HeaderLine(21, ""), HeaderLine(21, " "), 21},
    {"SectionHeaderWithTrailingBlank", "section-not-found", Severity::Warning,
     Sections({"[reg] ", "Port: integer; 1"}), Sections({"[REG]", "Port: integer; 1"}), kFirst},
    {"SectionHeaderWithLeadingBlank", "section-not-found", Severity::Warning,
     Sections({"[desk]", "a.exe: A", " [reg]", "Port: integer; 1"}),
     Sections({"[desk]", "a.exe: A", "[reg]", "Port: integer; 1"}), kFirst + 2},
    {"SecondHeaderOfASection", "section-duplicate", Severity::Warning,
     Sections({"[reg]", "A: integer; 1", "[subdir]", "Data", "[Reg]", "B: integer; 2"}),
     Sections({"[reg]", "A: integer; 1", "B: integer; 2", "[subdir]", "Data"}), kFirst + 4},
    {"SubDirectoryBeforeItsParent", "subdir-order", Severity::Warning, Sections({"[subdir]", "Data\\Images", "Data"}),
     Sections({"[subdir]", "Data", "Data\\Images"}), kFirst + 1},
    {"InSubDirWithoutColon", "insubdir-no-colon", Severity::Warning,
     [](Package& p) { p.sections = {"[insubdir]", "Images pics.slp"}; p.AddArchive("pics.slp", {"a"}); },
     [](Package& p) { p.sections = {"[insubdir]", "Images : pics.slp"}; p.AddArchive("pics.slp", {"a"}); },
     kFirst + 1},
    {"InSubDirWithoutBlankAfterColon", "insubdir-no-blank", Severity::Warning,
     [](Package& p) { p.sections = {"[insubdir]", "Images :pics.slp"}; p.AddArchive("ics.slp", {"a"}); },
     [](Package& p) { p.sections = {"[insubdir]", "Images :\tpics.slp"}; p.AddArchive("pics.slp", {"a"}); },
     kFirst + 1},
    {"InSubDirWithoutArchive", "insubdir-no-archive", Severity::Warning, Sections({"[insubdir]", "Images : "}),
     [](Package& p) { p.sections = {"[insubdir]", "Images : x.slp"}; p.AddArchive("X.SLP", {"a"}); }, kFirst + 1},
    {"InSubDirArchiveMissing", "archive-missing", Severity::Error, Sections({"[insubdir]", "Images : pics.slp"}),
     [](Package& p) { p.sections = {"[insubdir]", "Images : pics.slp"}; p.AddArchive("Pics.SLP", {"a"}); },
     kFirst + 1},
    {"InSubDirArchiveMalformed", "archive-malformed", Severity::Error,
     [](Package& p) {
       p.sections = {"[insubdir]", "Images : pics.slp"};
       p.files.AddFile("C:\\Package\\pics.slp", std::string("SG1\x01\x00\x00\x00\x09short", 13));
     },
     [](Package& p) { p.sections = {"[insubdir]", "Images : pics.slp"}; p.AddArchive("pics.slp", {"a"}); },
     kFirst + 1},
    {"CompressedMemberCorrupt", "member-corrupt", Severity::Error,
     [](Package& p) { p.files.AddFile("C:\\Package\\sor_ti1.slp", CompressedArchive(true)); },
     [](Package& p) { p.files.AddFile("C:\\Package\\sor_ti1.slp", CompressedArchive(false)); }, 0},
    {"MainArchiveMalformed", "archive-malformed", Severity::Error,
     [](Package& p) { p.files.AddFile("C:\\Package\\sor_ti1.slp", "sg1\x00"); },
     [](Package& p) { p.AddArchive("sor_ti1.slp", {}); }, 0},
    {"MainArchiveMemberInADirectoryMadeLater", "main-archive-directory-later", Severity::Warning,
     [](Package& p) { p.sections = {"[subdir]", "Data"}; p.AddArchive("sor_ti1.slp", {"Data\\Images\\a.png"}); },
     [](Package& p) { p.sections = {"[subdir]", "Data2"}; p.AddArchive("sor_ti1.slp", {"Data\\a.png", "Data2"}); },
     0},
    // One set of name rules with create and build: names the archive reader takes but
    // Windows would not keep as written.
    {"MainArchiveMemberNamedAfterADevice", "name-refused", Severity::Error,
     [](Package& p) { p.AddArchive("sor_ti1.slp", {"Aide\\NUL.txt"}); },
     [](Package& p) { p.AddArchive("sor_ti1.slp", {"Aide\\NULL.txt"}); }, 0},
    {"SubDirArchiveMemberEndingWithADot", "name-refused", Severity::Error,
     [](Package& p) { p.sections = {"[insubdir]", "Images : pics.slp"}; p.AddArchive("pics.slp", {"fichier."}); },
     [](Package& p) { p.sections = {"[insubdir]", "Images : pics.slp"}; p.AddArchive("pics.slp", {"fichier.txt"}); },
     kFirst + 1},
    {"SubDirEndingWithABlank", "name-refused", Severity::Error, Sections({"[subdir]", "a b "}),
     Sections({"[subdir]", "a b"}), kFirst + 1},
    {"DeletionOutsideTheInstallation", "delete-refused", Severity::Error, Sections({"[delete]", " ..\\Autre.txt"}),
     Sections({"[delete]", "Ancien\\..Autre.txt", "Ancien\\"}), kFirst + 1},
    {"DeletionOfTheUpdatersOwnFile", "delete-refused", Severity::Error, Sections({"[delete]", "uninstcgg.SLT"}),
     Sections({"[delete]", "Aide\\UninstCgg.slt"}), kFirst + 1},
    // 41 + 1 + 218 characters and the NUL pass Windows' 260 in the default installation directory.
    {"MemberPathTooLong", "path-too-long", Severity::Error,
     [](Package& p) { p.sections = {"[insubdir]", "Aide : aide.slp"}; p.AddArchive("aide.slp", {std::string(213, 'n')}); },
     [](Package& p) { p.sections = {"[insubdir]", "Aide : aide.slp"}; p.AddArchive("aide.slp", {std::string(212, 'n')}); },
     kFirst + 1},
    {"RegWithoutColon", "reg-no-colon", Severity::Warning, Sections({"[reg]", "Port integer; 1"}),
     Sections({"[reg]", "Port: integer; 1", "   "}), kFirst + 1},
    {"RegWithoutName", "reg-no-name", Severity::Warning, Sections({"[reg]", " : integer; 1"}),
     Sections({"[reg]", "P: integer; 1"}), kFirst + 1},
    {"RegWithoutBlankAfterColon", "reg-no-blank-colon", Severity::Warning, Sections({"[reg]", "Port:integer; 1"}),
     Sections({"[reg]", "Port:\x01integer; 1"}), kFirst + 1},
    {"RegWithoutSemicolon", "reg-no-semicolon", Severity::Warning, Sections({"[reg]", "Port: integer 1"}),
     Sections({"[reg]", "Port: integer;"}), kFirst + 1},
    {"RegWithoutBlankAfterSemicolon", "reg-no-blank-semicolon", Severity::Warning,
     Sections({"[reg]", "Port: integer;8080"}), Sections({"[reg]", "Port: integer;  8080"}), kFirst + 1},
    {"RegUnknownTypeWord", "reg-unknown-type", Severity::Warning, Sections({"[reg]", "Port: number; 1"}),
     Sections({"[reg]", "Port: Integer; 1"}), kFirst + 1},
    {"RegTypeStringMisCased", "reg-type-not-written", Severity::Warning, Sections({"[reg]", "Name: String; x"}),
     Sections({"[reg]", "Name: string; x"}), kFirst + 1},
    {"RegTypeWordPartial", "reg-type-not-written", Severity::Warning, Sections({"[reg]", "Port: int; 1"}),
     Sections({"[reg]", "Port: integer; 1"}), kFirst + 1},
    {"RegIntegerThatIsNot", "reg-integer-zero", Severity::Warning, Sections({"[reg]", "Port: integer; 80a"}),
     Sections({"[reg]", "Port: integer; 0x50"}), kFirst + 1},
    {"RegBoolRejected", "reg-value-rejected", Severity::Error, Sections({"[reg]", "Flag: bool; oui"}),
     Sections({"[reg]", "Flag: bool; FALSE"}), kFirst + 1},
    {"RegFloatRejected", "reg-value-rejected", Severity::Error, Sections({"[reg]", "Ratio: float; 1.5.2"}),
     Sections({"[reg]", "Ratio: float; 1.5"}), kFirst + 1},
    {"RegDateRejected", "reg-value-rejected", Severity::Error, Sections({"[reg]", "Day: date; 31/02/2024"}),
     Sections({"[reg]", "Day: date; 29-02-2024"}), kFirst + 1},
    {"RegDateInAnotherOrder", "reg-value-rejected", Severity::Error, Sections({"[reg]", "Day: date; 12/31/2024"}),
     [](Package& p) {
       p.sections = {"[reg]", "Day: date; 12/31/2024"};
       p.regional.shortDateFormat = "M/d/yy";
     },
     kFirst + 1},
    {"RegTimeRejected", "reg-value-rejected", Severity::Error, Sections({"[reg]", "Start: time; 25h00"}),
     Sections({"[reg]", "Start: time; 14h30m15s"}), kFirst + 1},
    {"RegDateTimeRejected", "reg-value-rejected", Severity::Error,
     Sections({"[reg]", "When: datetime; 31/12/2024 14h30"}), Sections({"[reg]", "When: datetime; 31/12/2024 14:30"}),
     kFirst + 1},
    {"RegValueWithTheDecimalSeparatorOfTheRegion", "reg-value-rejected", Severity::Error,
     [](Package& p) {
       p.sections = {"[reg]", "When: time; 8:30:15,5"};
       p.regional.decimalSeparator = '.';
     },
     Sections({"[reg]", "When: time; 8:30:15,5"}), kFirst + 1},
    {"DeskWithoutColon", "desk-no-colon", Severity::Warning, Sections({"[desk]", "Varnolith.exe"}),
     Sections({"[desk]", "Varnolith.exe : Varnolith"}), kFirst + 1},
    {"ProgramsWithoutSemicolon", "programs-no-semicolon", Severity::Warning,
     Sections({"[desk]", "[programs]", "Varnolith.exe: Varnolith"}),
     Sections({"[desk]", "[programs]", "Varnolith.exe: Varnolith; Tolmerik"}), kFirst + 2},
    {"ProgramsWithoutColon", "programs-no-colon", Severity::Warning,
     Sections({"[desk]", "[programs]", "Varnolith.exe; Tolmerik"}),
     Sections({"[desk]", "[programs]", "Varnolith.exe: Varnolith; Tolmerik"}), kFirst + 2},
    {"ProgramsWithoutDesk", "programs-without-desk", Severity::Warning,
     Sections({"[programs]", "Varnolith.exe: Varnolith; Tolmerik"}),
     Sections({"[programs]", "Varnolith.exe: Varnolith; Tolmerik", "[DESK]"}), kFirst},
};

class CheckFinding : public ::testing::TestWithParam<Case> {};

TEST_P(CheckFinding, IsReportedForTheFaultyPackageOnly) {
  const Case& c = GetParam();
  Package faulty;
  c.faulty(faulty);
  const Report faultyReport = faulty.Check();
  const auto found = WithCode(faultyReport, c.code);
  ASSERT_EQ(found.size(), 1u) << "the faulty package gave:\n" << Dump(faultyReport);
  EXPECT_EQ(found[0].severity, c.severity) << FindingLine(found[0]);
  EXPECT_EQ(found[0].line, c.line) << FindingLine(found[0]);
  EXPECT_GE(faultyReport.Status(), c.severity == Severity::Error ? 2 : 1);

  Package sound;
  c.sound(sound);
  const Report soundReport = sound.Check();
  EXPECT_TRUE(WithCode(soundReport, c.code).empty()) << "the sound package gave:\n" << Dump(soundReport);
}

INSTANTIATE_TEST_SUITE_P(EveryFinding, CheckFinding, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(CheckPackage, FollowsADirectoryThatCannotBeMadeDownToItsChildren) {
  Package package;
  package.sections = {"[subdir]", "A\\B", "A\\B\\C", "A", "A\\D"};
  const auto found = WithCode(package.Check(), "subdir-order");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].line, kFirst + 1);  // before its parent
  EXPECT_EQ(found[1].line, kFirst + 2);  // after a parent that is not made
}

TEST(CheckPackage, TellsWhatTheUpdaterReadsWhereALineLosesACharacter) {
  Package package;
  package.sections = {"[reg]", "Version:string;5.2"};
  const Report report = package.Check();
  const std::string text = Dump(report);
  EXPECT_NE(text.find("type word is read as \"tring\""), std::string::npos) << text;
  EXPECT_NE(text.find("value is read as \".2\""), std::string::npos) << text;
  // "tring" passes the substring test, so the name is recorded and nothing written.
  EXPECT_EQ(WithCode(report, "reg-type-not-written").size(), 1u) << text;
}

TEST(CheckPackage, QuotesTheErrorBoxTheRunWouldEndIn) {
  Package package;
  package.header[1] = "12a";
  package.sections = {"[reg]", "Ratio: float; 1,5,0"};
  const Report report = package.Check();
  const std::string text = Dump(report);
  EXPECT_NE(text.find("\"'12a' n'est pas une valeur enti\xE8re correcte.\""), std::string::npos) << text;
  // The float's first "," became the regional separator before the conversion saw it.
  EXPECT_NE(text.find("\"'1,5,0' n'est pas une valeur en virgule flottante correcte.\""), std::string::npos) << text;
}

TEST(CheckPackage, CountsSectionLinesAsTheLookupSplitsThem) {
  Package package;
  package.lineEnd = "\n";
  package.sections = {"", "[reg]", "", "Port: integer; x"};
  const auto found = WithCode(package.Check(), "reg-integer-zero");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].line, kFirst + 3);
}

TEST(CheckPackage, ChecksAnArchiveNamedOnSeveralLinesOnceButReportsEachLine) {
  Package package;
  package.sections = {"[insubdir]", "A : pics.slp", "B : PICS.slp"};
  package.files.AddFile("C:\\Package\\pics.slp", "SG1");
  const auto found = WithCode(package.Check(), "archive-malformed");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].line, kFirst + 1);
  EXPECT_EQ(found[1].line, kFirst + 2);
  EXPECT_NE(found[0].message.find("fewer than the 4 of the header"), std::string::npos) << found[0].message;
}

TEST(CheckPackage, OrdersFindingsByFileAndLine) {
  Package package;
  package.header[20] = "";
  package.sections = {"[reg]", "A: int; 1", "[subdir]", "B\\C", "B"};
  package.files.AddFile("C:\\Package\\sor_ti1.slp", "junk");
  const Report report = package.Check();
  std::vector<std::pair<std::string, int>> places;
  for (const Finding& finding : report.Findings()) places.emplace_back(finding.file, finding.line);
  EXPECT_TRUE(std::is_sorted(places.begin(), places.end())) << Dump(report);
  EXPECT_EQ(report.Findings().size(), 4u) << Dump(report);
}

}  // namespace
}  // namespace varno::pack
