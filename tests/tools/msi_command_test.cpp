#include "commands/msi_command.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include <gtest/gtest.h>

namespace varno::pack {
namespace {

namespace fs = std::filesystem;

TEST(MsiProductVersion, KeepsTheOrderOfPackageVersionsWithinTheFieldsLimits) {
  EXPECT_EQ(MsiProductVersion("2816090"), "0.42.63578");
  EXPECT_EQ(MsiProductVersion("1"), "0.0.1");
  EXPECT_EQ(MsiProductVersion("2147483647"), "127.255.65535");
  // A carry from the build field into the minor one orders as the numbers do.
  EXPECT_EQ(MsiProductVersion("65535"), "0.0.65535");
  EXPECT_EQ(MsiProductVersion("65536"), "0.1.0");
  EXPECT_EQ(MsiProductVersion("16777216"), "1.0.0");
  for (const char* refused : {"", "0", "-5", "2147483648", "28a", "99999999999"}) {
    EXPECT_EQ(MsiProductVersion(refused), std::nullopt) << refused;
  }
}

TEST(NameGuid, IsAVersion8GuidOfTheNameAlone) {
  const std::string guid = NameGuid("Tolmerik Varnolith");
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_EQ(guid[15], '8');  // the version
  EXPECT_NE(std::string("89AB").find(guid[20]), std::string::npos);  // the variant
  EXPECT_EQ(guid, NameGuid("Tolmerik Varnolith"));
  EXPECT_NE(guid, NameGuid("Tolmerik Varnolith "));
  EXPECT_EQ(guid.find_first_of("abcdef"), std::string::npos);
}

TEST(BuildMsi, TheSamePackageGivesTheSameBytesWhereverAndWheneverItIsBuilt) {
  char pattern[] = "/tmp/varno-msi-test.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root(pattern);
  const auto makePackage = [](const fs::path& dir, const char* version) {
    fs::create_directories(dir / "Sous");
    std::ofstream(dir / "MjaIni.ini", std::ios::binary) << "Mise a jour\r\n" << version << "\r\n";
    std::ofstream(dir / "Varnolith_MAJ_Solo.exe", std::ios::binary) << "MZ";
    std::ofstream(dir / "Sous" / "a.dll", std::ios::binary) << "a";
  };
  makePackage(root / "un", "2816090");
  makePackage(root / "ailleurs" / "deux", "2816090");
  fs::last_write_time(root / "un" / "Sous" / "a.dll", fs::file_time_type::clock::now() - std::chrono::hours(50));
  Report report;
  const MsiResult first = BuildMsi({(root / "un").string(), (root / "un.msi").string()}, report);
  const MsiResult second = BuildMsi({(root / "ailleurs" / "deux").string(), (root / "deux.msi").string()}, report);
  ASSERT_TRUE(first.written && second.written) << FindingLine(report.Findings().front());
  const auto bytes = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(bytes(root / "un.msi"), bytes(root / "deux.msi"));
  EXPECT_EQ(first.packageCode, second.packageCode);

  // Other content, same version: the product code stays, the package code changes.
  std::ofstream(root / "un" / "Sous" / "a.dll", std::ios::binary) << "b";
  const MsiResult changed = BuildMsi({(root / "un").string(), (root / "un.msi").string()}, report);
  EXPECT_EQ(changed.productCode, first.productCode);
  EXPECT_NE(changed.packageCode, first.packageCode);
  EXPECT_EQ(changed.upgradeCode, first.upgradeCode);
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 4) << "no working directory left";
  fs::remove_all(root);
}

// Windows Installer uses the short names where long ones are not available: within a folder
// they must differ whatever the case, a real 8.3 name included.
TEST(BuildMsi, EveryLongNameGetsAShortNameOfItsOwn) {
  if (system("msiinfo --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no msiinfo (msitools)";
  char pattern[] = "/tmp/varno-msi-test.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root(pattern), package = root / "paquet";
  fs::create_directories(package / "Notes de version");
  std::ofstream(package / "MjaIni.ini", std::ios::binary) << "Mise a jour\r\n2816090\r\n";
  for (const char* name : {"Varnolith_MAJ_Solo.exe", "fichie~2.txt", "Fichier long un.txt", "Fichier long deux.txt",
                           "Notes de version/Lisez-moi tr\xc3\xa8s long.txt"}) {
    std::ofstream(package / name, std::ios::binary) << name;
  }
  Report report;
  ASSERT_TRUE(BuildMsi({package.string(), (root / "paquet.msi").string()}, report).written);
  const std::string listing = root / "file.idt";
  ASSERT_EQ(system(("msiinfo export " + (root / "paquet.msi").string() + " File >" + listing).c_str()), 0);
  std::ifstream in(listing);
  std::string line;
  std::map<std::string, std::string> shortNames;  // upper case, in the component's folder
  for (int number = 0; std::getline(in, line); ++number) {
    if (number < 3) continue;  // the column names, types and keys
    std::vector<std::string> fields;
    for (size_t from = 0, tab; from <= line.size(); from = tab + 1) {
      tab = std::min(line.find('\t', from), line.size());
      fields.push_back(line.substr(from, tab - from));
    }
    ASSERT_GE(fields.size(), 3u) << line;
    const std::string shortName = fields[2].substr(0, fields[2].find('|'));
    EXPECT_LE(shortName.size(), 12u) << fields[2];
    std::string upper;
    for (const char c : shortName) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(shortNames.emplace(upper, fields[2]).second)
        << fields[2] << " has the short name of " << shortNames[upper];
  }
  EXPECT_EQ(shortNames.size(), 6u);

  // A name the MSI's code page cannot hold is refused, not handed to the library.
  for (const char* name : {"tr\xe8s.txt", "\xce\xa9.txt"}) {
    std::ofstream(package / name, std::ios::binary) << "x";
    Report refused;
    EXPECT_FALSE(BuildMsi({package.string(), (root / "refus.msi").string()}, refused).written) << name;
    EXPECT_EQ(refused.Findings().at(0).code, "msi-name-refused");
    fs::remove(package / name);
  }
  fs::remove_all(root);
}

// An updater alone is about 20 MB: the MSI of a real package is far past the few megabytes
// (7.1 MB, a compound file's first 109 FAT sectors) where a hand-patched summary gave up.
TEST(BuildMsi, APackageOfTensOfMegabytesGivesAWholeMsi) {
  char pattern[] = "/tmp/varno-msi-test.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root(pattern), package = root / "paquet";
  fs::create_directories(package);
  std::ofstream(package / "MjaIni.ini", std::ios::binary) << "Mise a jour\r\n2816090\r\n";
  // Bytes that do not compress, so that the MSI is as large as the package.
  std::string bytes(24 << 20, '\0');
  uint32_t state = 2463534242u;
  for (char& byte : bytes) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    byte = static_cast<char>(state);
  }
  std::ofstream(package / "Varnolith_MAJ_Solo.exe", std::ios::binary) << bytes;
  Report report;
  const MsiResult result = BuildMsi({package.string(), (root / "paquet.msi").string()}, report);
  ASSERT_TRUE(result.written) << FindingLine(report.Findings().front());
  EXPECT_GT(fs::file_size(root / "paquet.msi"), 24u << 20);
  fs::remove_all(root);
}

}  // namespace
}  // namespace varno::pack
