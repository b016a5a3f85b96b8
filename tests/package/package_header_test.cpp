#include "package/package_header.h"

#include <gtest/gtest.h>

#include "support/memory_machine.h"

namespace varno {
namespace {

// A header of 21 lines with the given values at lines 2, 17, 19 and 21.
std::string Header(const std::string& line2, const std::string& line17, const std::string& line19,
                   const std::string& line21, const std::string& end = "\r\n") {
  std::string text;
  for (int line = 1; line <= 21; ++line) {
    if (line == 2) text += line2;
    else if (line == 17) text += line17;
    else if (line == 19) text += line19;
    else if (line == 21) text += line21;
    else text += "ligne " + std::to_string(line);
    text += end;
  }
  return text;
}

TEST(PackageHeader, TakesTheValuesAtTheirFixedLines) {
  const PackageHeader header = ParsePackageHeader(Header("2816090", "30", "2816000", "V 2.9") + "[reg]\r\n");
  EXPECT_EQ(header.newVersion, "2816090");
  EXPECT_EQ(header.minFileVersionNumber, 30);
  EXPECT_EQ(header.minInstalledVersion, 2816000);
  EXPECT_EQ(header.versionLabel, "V 2.9");
}

TEST(PackageHeader, AShortFileReadsEmptyLinesAndDefaults) {
  const PackageHeader header = ParsePackageHeader("titre\r\n2816090\r\n");
  EXPECT_EQ(header.newVersion, "2816090");
  EXPECT_EQ(header.minFileVersionNumber, 28);
  EXPECT_EQ(header.minInstalledVersion, 2816080);
  EXPECT_EQ(header.versionLabel, "");

  const PackageHeader empty = ParsePackageHeader("");
  EXPECT_EQ(empty.newVersion, "");
  EXPECT_EQ(empty.minFileVersionNumber, 28);
  EXPECT_EQ(empty.minInstalledVersion, 2816080);
}

TEST(PackageHeader, Line17KeepsItsLowEightBitsAndZeroMeans28) {
  struct Case { const char* line; int expected; };
  for (const Case& c : {Case{"256", 28}, Case{"300", 44}, Case{"-1", 255}, Case{"0", 28}, Case{"abc", 28},
                        Case{"$1E", 30}, Case{"", 28}, Case{"255", 255}}) {
    EXPECT_EQ(ParsePackageHeader(Header("1", c.line, "0", "")).minFileVersionNumber, c.expected) << c.line;
  }
}

TEST(PackageHeader, Line19DefaultsOnlyWhenItIsNoInteger) {
  EXPECT_EQ(ParsePackageHeader(Header("1", "", "0", "")).minInstalledVersion, 0);
  EXPECT_EQ(ParsePackageHeader(Header("1", "", "-12", "")).minInstalledVersion, -12);
  EXPECT_EQ(ParsePackageHeader(Header("1", "", "lettres", "")).minInstalledVersion, 2816080);
  EXPECT_EQ(ParsePackageHeader(Header("1", "", "", "")).minInstalledVersion, 2816080);
  EXPECT_EQ(ParsePackageHeader(Header("1", "", "5000000000", "")).minInstalledVersion, 2816080);
}

TEST(PackageHeader, ValuesAreTakenExactlyAsTheyStand) {
  const PackageHeader header = ParsePackageHeader(Header(" 2816090 ", "", "", "  Édition 3 "));
  EXPECT_EQ(header.newVersion, " 2816090 ");
  EXPECT_EQ(header.versionLabel, "  Édition 3 ");
}

TEST(PackageHeader, EndsLinesAtLfAndDropsALoneCr) {
  const PackageHeader lf = ParsePackageHeader(Header("2816090", "30", "7", "Label", "\n"));
  EXPECT_EQ(lf.newVersion, "2816090");
  EXPECT_EQ(lf.versionLabel, "Label");
  // A lone CR does not end the header line; it disappears from its text.
  const PackageHeader cr = ParsePackageHeader("titre\r\n28\r16090\r\n");
  EXPECT_EQ(cr.newVersion, "2816090");
}

TEST(PackageHeader, ReadsALongLineWhole) {
  const std::string label(5000, 'L');
  EXPECT_EQ(ParsePackageHeader(Header("1", "", "", label)).versionLabel, label);
}

TEST(ReadPackageHeader, AMissingFileShowsTheMessageAndAsksToQuit) {
  fake::MemoryMachine machine;
  Platform platform = machine.platform();
  EXPECT_FALSE(ReadPackageHeader(platform, "C:\\Package\\MjaIni.ini").has_value());
  ASSERT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Message);
  EXPECT_EQ(machine.dialogs.shown[0].title, "Varnolith_maj_solo");
  EXPECT_EQ(machine.dialogs.shown[0].text,
            "Erreur: le fichier \"MjaIni.ini\" n'a pas été trouvé.\r\rVérifiez la validité paquet de mise à jour");
  EXPECT_TRUE(machine.window.quitRequested);
}

TEST(ReadPackageHeader, ReadsThePresentFileWithoutAnyBox) {
  fake::MemoryMachine machine;
  machine.files.AddFile("C:\\Package\\MjaIni.ini", Header("2816090", "", "", "V3"));
  Platform platform = machine.platform();
  auto header = ReadPackageHeader(platform, "C:\\Package\\MjaIni.ini");
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->newVersion, "2816090");
  EXPECT_EQ(header->versionLabel, "V3");
  EXPECT_TRUE(machine.dialogs.shown.empty());
  EXPECT_FALSE(machine.window.quitRequested);
}

}  // namespace
}  // namespace varno
