// The tool's border with the host: code page conversions, member arguments, and the report
// as scripts read it.
#include <gtest/gtest.h>

#include "checks/report.h"
#include "commands/create_command.h"
#include "host/host_text.h"

namespace varno::pack {
namespace {

TEST(HostText, EveryWindows1252ByteSurvivesTheTripThroughUtf8) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  const std::string utf8 = Cp1252ToUtf8(all);
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
  EXPECT_EQ(Cp1252ToUtf8("\x80\xE9\x9C"), "\xE2\x82\xAC\xC3\xA9\xC5\x93");  // euro sign, e acute, oe
}

TEST(HostText, RefusesWhatTheUpdatersCodePageCannotWrite) {
  EXPECT_FALSE(Utf8ToCp1252("\xE2\x82\xAD"));      // the kip sign, not in Windows-1252
  EXPECT_FALSE(Utf8ToCp1252("\xC2\x85"));          // a C1 control Windows-1252 gives a letter to
  EXPECT_FALSE(Utf8ToCp1252("\xC3"));              // cut short
  EXPECT_FALSE(Utf8ToCp1252("\xC3\x28"));          // not a continuation byte
  EXPECT_FALSE(Utf8ToCp1252("\xC0\xAF"));          // "/" written long, a classic way past a check
  EXPECT_FALSE(Utf8ToCp1252("\xF0\x9F\x98\x80"));  // beyond the first plane
  EXPECT_EQ(Utf8ToCp1252("\xC2\x81"), "\x81");     // the unassigned bytes map to themselves
}

TEST(MemberArgument, NamesAMemberByItsPathOrByTheNameGiven) {
  const auto parsed = [](const char* argument) {
    const MemberArgument member = ParseMemberArgument(argument);
    return member.name + " <- " + member.path;
  };
  EXPECT_EQ(parsed("Varnolith.exe"), "Varnolith.exe <- Varnolith.exe");
  EXPECT_EQ(parsed("Data/Images/a.png"), "Data\\Images\\a.png <- Data/Images/a.png");
  EXPECT_EQ(parsed("././Data/a.png"), "Data\\a.png <- ././Data/a.png");
  EXPECT_EQ(parsed("Aide/Lisez-moi.txt=build/README"), "Aide\\Lisez-moi.txt <- build/README");
  EXPECT_EQ(parsed("x=a=b"), "x <- a=b");  // a path may hold "=", a name cannot
  // Refused later by the reader's own name check, with the name as the user wrote it.
  EXPECT_EQ(parsed("../outside.txt"), "..\\outside.txt <- ../outside.txt");
  EXPECT_EQ(parsed("/etc/passwd"), "\\etc\\passwd <- /etc/passwd");
}

TEST(ReportStatus, IsTheWorstSeverityFound) {
  Report report;
  EXPECT_EQ(report.Status(), 0);
  report.Warn("w", "f", 3, "m");
  EXPECT_EQ(report.Status(), 1);
  report.Fail("e", "", 0, "m");
  report.Warn("w", "f", 4, "m");
  EXPECT_EQ(report.Status(), 2);
}

TEST(ReportJson, KeepsTheDocumentedShapeAndConvertsTextToUtf8) {
  Report report;
  report.Fail("reg-value-rejected", "MjaIni.ini", 31, "'peut-\xEAtre' refus\xE9");
  report.Warn("archive-malformed", "sor_ti1.slp", 0, "m");
  const Json document = ReportJson("check", report);
  std::vector<std::string> keys;
  for (const auto& item : document.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"command", "status", "errors", "warnings", "findings"}));
  EXPECT_EQ(document["status"], 2);
  EXPECT_EQ(document["errors"], 1);
  EXPECT_EQ(document["warnings"], 1);
  EXPECT_EQ(document["findings"][0]["message"], "'peut-\xC3\xAAtre' refus\xC3\xA9");
  EXPECT_EQ(document["findings"][0]["line"], 31);
  EXPECT_TRUE(document["findings"][1]["line"].is_null());
  EXPECT_EQ(document["findings"][1]["severity"], "warning");
  EXPECT_NO_THROW(document.dump());  // would throw on bytes that are not UTF-8
}

TEST(FindingLine, ReadsLikeACompilerDiagnostic) {
  EXPECT_EQ(FindingLine({Severity::Error, "header-version", "MjaIni.ini", 2, "bad"}),
            "MjaIni.ini:2: error: bad [header-version]");
  EXPECT_EQ(FindingLine({Severity::Warning, "archive-malformed", "sor_ti1.slp", 0, "bad"}),
            "sor_ti1.slp: warning: bad [archive-malformed]");
}

}  // namespace
}  // namespace varno::pack
