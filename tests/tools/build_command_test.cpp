// build on the real disk: a project with every kind of entry gives a package the check
// finds clean and the same bytes each time; every mistake leaves nothing at the destination.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "commands/build_command.h"
#include "host/host_disk.h"
#include "package/archive_layout.h"

namespace varno::pack {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::ifstream in(entry.path(), std::ios::binary);
    entries[fs::relative(entry.path(), root).string()] =
        entry.is_directory() ? "/" : std::string(std::istreambuf_iterator<char>(in), {});
  }
  return entries;
}

std::string Listing(const Report& report) {
  std::string text;
  for (const Finding& finding : report.Findings()) text += FindingLine(finding) + "\n";
  return text;
}

// The project file is UTF-8, while this file's narrow literals are Windows-1252.
constexpr char kProject[] = R"([package]
title = "Mise a jour de Varnolith"
version = 2816090
label = "2.9"
min-file-version = 28
min-installed-version = 2816000

[files]
staging = "staging"
updater = "Varnolith_MAJ_Solo.exe"
control = "Varxxlith.ocx"

[[desk]]
target = "Lisezmoi.txt"
name = "Lisez-moi de Varnolith"

[[programs]]
target = "Outils/Admin.exe"
name = "Administration"
group = "Tolmerik"

[[reg]]
name = "Edition"
type = "string"
value = "2.9 )" "\xC3\x89t\xC3\xA9" R"("

[[reg]]
name = "Port"
type = "integer"
value = 8080

[[reg]]
name = "Journal"
type = "bool"
value = true

[[reg]]
name = "Echelle"
type = "float"
value = 1.5

[[reg]]
name = "Publication"
type = "date"
value = "05/02/2024"

[[reg]]
name = "Rappel"
type = "time"
value = "8h30"
)";

class BuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("varno-build-test-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "staging");
    std::string problem;
    disk = HostDisk::Open(problem);
    ASSERT_TRUE(disk) << problem;
    Write("varno-package.toml", kProject);
    Write("Varnolith_MAJ_Solo.exe", "updater");
    Write("Varxxlith.ocx", "control");
    Write("staging/Lisezmoi.txt", "lisez-moi");
    Write("staging/Varnolith.exe", "exe 2.9");
    Write("staging/Outils/Admin.exe", "admin");
    Write("staging/Donnees/Images/Photos/a.jpg", "photo");
    Write("staging/Donnees/Images/logo.bmp", "logo");
    Write("staging/Donnees/Vide/.keep", "");
  }
  void TearDown() override { fs::remove_all(root); }

  void Write(const std::string& relative, const std::string& bytes) {
    fs::create_directories((root / relative).parent_path());
    std::ofstream(root / relative, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& relative) {
    std::ifstream in(root / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  BuildResult Build(const std::string& output, const std::string& since = "", bool force = false,
                    Progress* progress = nullptr, uint64_t maxDeltaFileSize = PlanOptions().maxDeltaFileSize) {
    report = Report();
    BuildRequest request;
    request.force = force;
    request.maxDeltaFileSize = maxDeltaFileSize;
    request.projectShown = (root / "varno-package.toml").string();
    request.packageShown = (root / output).string();
    request.previousShown = since.empty() ? "" : (root / since).string();
    request.currentYear = 2024;
    request.windowsPath = [this](const std::string& shown) { return disk->WindowsPath(shown); };
    Progress quiet;
    return BuildPackage(disk->Files(), request, progress ? *progress : quiet, report);
  }

  // The names in an archive of the package, as the updater's reader sees them.
  std::string Members(const std::string& archive) {
    const ArchiveCheck check = CheckArchiveFile(disk->Files(), disk->WindowsPath((root / archive).string()));
    EXPECT_TRUE(check.Valid()) << archive << ": " << check.problem;
    std::string names;
    for (const ArchiveMember& member : check.layout.members) names += member.name + " ";
    return names;
  }

  fs::path root;
  std::unique_ptr<HostDisk> disk;
  Report report;
};

TEST_F(BuildTest, EveryKindOfEntryGivesAPackageTheCheckFindsClean) {
  const BuildResult result = Build("pkg");
  ASSERT_TRUE(result.written) << Listing(report);
  EXPECT_EQ(report.Status(), 0) << Listing(report);

  const std::string description = Read("pkg/MjaIni.ini");
  std::string header = "Mise a jour de Varnolith\r\n2816090\r\n";
  for (int line = 3; line <= 21; ++line) {
    header += line == 17 ? "28\r\n" : line == 19 ? "2816000\r\n" : line == 21 ? "2.9\r\n" : "\r\n";
  }
  EXPECT_EQ(description,
            header +
                // Parents first, empty directories included; each directory's files in its own
                // archive, the blank after the colon in place.
                "[subdir]\r\nDonnees\r\nDonnees\\Images\r\nDonnees\\Images\\Photos\r\nDonnees\\Vide\r\nOutils\r\n"
                "[insubdir]\r\nDonnees\\Images : dir001.slp\r\nDonnees\\Images\\Photos : dir002.slp\r\n"
                "Donnees\\Vide : dir003.slp\r\nOutils : dir004.slp\r\n"
                "[desk]\r\nLisezmoi.txt: Lisez-moi de Varnolith\r\n"
                "[programs]\r\nOutils\\Admin.exe: Administration; Tolmerik\r\n"
                "[reg]\r\nEdition: string; 2.9 \xC9t\xE9\r\nPort: integer; 8080\r\nJournal: bool; True\r\n"
                "Echelle: float; 1.5\r\nPublication: date; 05/02/2024\r\nRappel: time; 8h30\r\n");
  // The control travels in the main archive, as the updater registers it from the installation.
  EXPECT_EQ(Members("pkg/sor_ti1.slp"), "Lisezmoi.txt Varnolith.exe Varxxlith.ocx ");
  EXPECT_EQ(Members("pkg/dir002.slp"), "a.jpg ");
  EXPECT_EQ(Read("pkg/Varnolith_MAJ_Solo.exe"), "updater");
  EXPECT_EQ(Read("pkg/Varxxlith.ocx"), "control");
}

TEST_F(BuildTest, TheSameInputsGiveTheSameBytesAndARebuildReplacesThePackage) {
  ASSERT_TRUE(Build("one").written) << Listing(report);
  ASSERT_TRUE(Build("two").written) << Listing(report);
  EXPECT_EQ(Snapshot(root / "one"), Snapshot(root / "two"));
  Write("staging/Varnolith.exe", "exe 2.9.1");
  ASSERT_TRUE(Build("one", "", true).written) << Listing(report);
  EXPECT_NE(Snapshot(root / "one"), Snapshot(root / "two"));
  EXPECT_EQ(fs::directory_iterator(root) == fs::directory_iterator(), false);
  for (const auto& entry : fs::directory_iterator(root)) {
    EXPECT_EQ(entry.path().filename().string().find(".building"), std::string::npos) << entry.path();
    EXPECT_EQ(entry.path().filename().string().find(".previous"), std::string::npos) << entry.path();
  }
}

TEST_F(BuildTest, AnEarlierPackageIsReplacedOnlyWhenForced) {
  ASSERT_TRUE(Build("pkg").written) << Listing(report);
  Write("pkg/MjaIni.sig", "signature");
  Write("staging/Varnolith.exe", "exe 2.9.1");
  EXPECT_FALSE(Build("pkg").written);
  EXPECT_EQ(report.Status(), 2);
  EXPECT_NE(Listing(report).find("holds a package already (version 2816090, signed)"), std::string::npos)
      << Listing(report);
  EXPECT_EQ(Read("pkg/MjaIni.sig"), "signature");
  ASSERT_TRUE(Build("pkg", "", true).written) << Listing(report);
  EXPECT_FALSE(fs::exists(root / "pkg/MjaIni.sig"));
}

TEST_F(BuildTest, ValuesAreCheckedUnderFrenchSettingsAndToldAtTheirEntryOfTheProject) {
  const int entryLine = static_cast<int>(std::count(kProject, kProject + sizeof(kProject) - 1, '\n')) + 2;
  Write("varno-package.toml", std::string(kProject) + "\n[[reg]]\nname = \"Debut\"\ntype = \"time\"\nvalue = \"08:30:15.500\"\n");
  EXPECT_FALSE(Build("pkg").written);
  ASSERT_EQ(report.Findings().size(), 1u) << Listing(report);
  const Finding& finding = report.Findings()[0];
  EXPECT_EQ(finding.code, "reg-value-rejected");
  EXPECT_EQ(finding.file, (root / "varno-package.toml").string());
  EXPECT_EQ(finding.line, entryLine) << Listing(report);
  EXPECT_FALSE(fs::exists(root / "pkg"));

  Write("varno-package.toml", std::string(kProject) + "\n[[reg]]\nname = \"Debut\"\ntype = \"time\"\nvalue = \"08:30:15,500\"\n");
  EXPECT_TRUE(Build("pkg").written) << Listing(report);
}

TEST_F(BuildTest, WhatTheStagingTreeMustNotShipStaysOut) {
  Write("staging/.git/config", "git");
  Write("staging/Donnees/Thumbs.db", "thumbnails");
  Write("staging/Donnees/Images/.DS_Store", "finder");
  ASSERT_TRUE(Build("pkg").written) << Listing(report);
  EXPECT_EQ(Read("pkg/MjaIni.ini").find(".git"), std::string::npos);
  EXPECT_EQ(Members("pkg/dir001.slp"), "logo.bmp ");

  // The project's own list replaces the defaults; a pattern with "/" is a path.
  std::string project = kProject;
  project.insert(project.find("\n", project.find("control =")) + 1, "exclude = [\"*.BAK\", \"Donnees/Images\"]\n");
  Write("varno-package.toml", project);
  Write("staging/Lisezmoi.bak", "old");
  Write("staging/Outils/Images/i.png", "kept: not at the path");
  ASSERT_TRUE(Build("two").written) << Listing(report);
  const std::string description = Read("two/MjaIni.ini");
  EXPECT_NE(description.find("[subdir]\r\n.git\r\nDonnees\r\nDonnees\\Vide\r\nOutils\r\nOutils\\Images\r\n"),
            std::string::npos)
      << description;
  EXPECT_EQ(Members("two/sor_ti1.slp"), "Lisezmoi.txt Varnolith.exe Varxxlith.ocx ");

  // A link that leads out of the tree is refused, not followed.
  fs::create_symlink("/etc/passwd", root / "staging/Donnees/passwd");
  EXPECT_FALSE(Build("three").written);
  EXPECT_NE(Listing(report).find("staging/Donnees/passwd: error:"), std::string::npos) << Listing(report);
  EXPECT_NE(Listing(report).find("[link-leaves-staging]"), std::string::npos) << Listing(report);
  fs::remove(root / "staging/Donnees/passwd");

  // The package may not be written inside what it is read from.
  EXPECT_FALSE(Build("staging/Outils/../pkg").written);
  EXPECT_NE(Listing(report).find("[destination-refused]"), std::string::npos) << Listing(report);
  EXPECT_FALSE(fs::exists(root / "staging/pkg"));
}

TEST_F(BuildTest, APathTooLongForTheInstallationDirectoryIsRefused) {
  Write("staging/Donnees/" + std::string(200, 'n') + ".txt", "long");  // 41 + 1 + 212 + NUL fits
  ASSERT_TRUE(Build("pkg").written) << Listing(report);
  std::string project = kProject;
  project.insert(project.find("\n[files]"), "\ninstall-dir-length = 48");
  Write("varno-package.toml", project);
  EXPECT_FALSE(Build("pkg2").written);
  EXPECT_NE(Listing(report).find(".txt: error: its path in the installation is 261 characters long"), std::string::npos)
      << Listing(report);
}

TEST_F(BuildTest, FailuresGiveTheSystemsReasonAndWhatAKilledBuildLeftIsCleaned) {
  Write("pkg.building1/MjaIni.ini", "half a package");
  Write("pkg.previous3/MjaIni.ini", "a package that could not be removed");
  Write("pkg.building2/keep/mine.txt", "not a package: left alone");
  ASSERT_TRUE(Build("pkg").written) << Listing(report);
  EXPECT_FALSE(fs::exists(root / "pkg.building1"));
  EXPECT_FALSE(fs::exists(root / "pkg.previous3"));
  EXPECT_TRUE(fs::exists(root / "pkg.building2/keep/mine.txt"));

  Write("a-file", "");
  EXPECT_FALSE(Build("a-file/pkg").written);
  EXPECT_NE(Listing(report).find("no directory can be made beside it to build the package in: Not a directory"),
            std::string::npos)
      << Listing(report);
  fs::remove(root / "varno-package.toml");
  EXPECT_FALSE(Build("pkg2").written);
  EXPECT_NE(Listing(report).find("the project file cannot be read: No such file or directory"), std::string::npos)
      << Listing(report);
}

TEST_F(BuildTest, AMistakeInTheProjectNamesFileLineAndKeyAndWritesNothing) {
  std::string project = kProject;
  project.replace(project.find("value = 8080"), 12, "value = \"x\"\nbogus = 1");
  project.replace(project.find("version = 2816090"), 17, "version = \"2816090\"");
  Write("varno-package.toml", project);
  EXPECT_FALSE(Build("pkg").written);
  EXPECT_EQ(report.Status(), 2);
  const std::string findings = Listing(report);
  EXPECT_NE(findings.find("varno-package.toml:3: error: \"package.version\" must be a whole number"), std::string::npos)
      << findings;
  EXPECT_NE(findings.find(":31: error: \"reg[1].bogus\" is not a key"), std::string::npos) << findings;
  EXPECT_FALSE(fs::exists(root / "pkg"));

  Write("varno-package.toml", "[package\nversion = 1\n");
  EXPECT_FALSE(Build("pkg").written);
  EXPECT_NE(Listing(report).find("varno-package.toml:1: error: not a valid TOML file"), std::string::npos)
      << Listing(report);
}

TEST_F(BuildTest, AStagingTreeTheUpdaterCannotCarryWritesNothing) {
  fs::create_directories(root / "pkg");
  Write("pkg/MjaIni.ini", "earlier package");
  Write("staging/Donnees/a:b.txt", "colon");
  Write("staging/Donnees/LOGO.txt", "one");
  Write("staging/Donnees/logo.TXT", "two");
  Write("staging/[Notes]/n.txt", "section");
  fs::remove(root / "Varnolith_MAJ_Solo.exe");
  EXPECT_FALSE(Build("pkg").written);
  const std::string findings = Listing(report);
  for (const char* expected : {"Donnees/a:b.txt: error: the name holds \":\"", "Donnees/logo.TXT: error: differs from",
                               "[Notes]: error: the name starts with \"[\"", "[updater-missing]"}) {
    EXPECT_NE(findings.find(expected), std::string::npos) << expected << "\n" << findings;
  }
  // The earlier package stays as it was, and nothing is left beside it.
  EXPECT_EQ(Read("pkg/MjaIni.ini"), "earlier package");
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 4);
}

TEST_F(BuildTest, ADirectoryOfMoreThan128FilesIsSplitButTheTopOfTheTreeCannotBe) {
  for (int i = 0; i < 130; ++i) Write("staging/Many/f" + std::to_string(1000 + i), "x");
  ASSERT_TRUE(Build("pkg").written) << Listing(report);
  const std::string description = Read("pkg/MjaIni.ini");
  EXPECT_NE(description.find("Many : dir004.slp\r\nMany : dir005.slp\r\n"), std::string::npos) << description;
  EXPECT_EQ(Members("pkg/dir005.slp"), "f1128 f1129 ");

  for (int i = 0; i < 128; ++i) Write("staging/t" + std::to_string(i), "x");
  EXPECT_FALSE(Build("top").written);
  EXPECT_NE(Listing(report).find("[too-many-members]"), std::string::npos) << Listing(report);
  EXPECT_FALSE(fs::exists(root / "top"));
}

TEST_F(BuildTest, SinceCarriesExactlyTheNewAndChangedFilesAndRemovesWhatIsGone) {
  fs::copy(root / "staging", root / "previous", fs::copy_options::recursive);
  Write("staging/Varnolith.exe", "exe 2.9.1");          // changed, same directory
  Write("staging/Donnees/Images/logo.bmp", "LOGO");      // changed, same size
  Write("staging/Donnees/Neuf/n.txt", "new");            // new, in a new directory
  fs::remove(root / "staging/Outils/Admin.exe");          // gone
  fs::remove_all(root / "staging/Donnees/Images/Photos"); // gone with its directory
  const BuildResult result = Build("pkg", "previous");
  ASSERT_TRUE(result.written) << Listing(report);
  EXPECT_EQ(report.Status(), 0) << Listing(report);
  EXPECT_EQ(Members("pkg/sor_ti1.slp"), "Varnolith.exe Varxxlith.ocx ");
  const std::string description = Read("pkg/MjaIni.ini");
  EXPECT_NE(description.find("[subdir]\r\nDonnees\\Neuf\r\n[insubdir]\r\nDonnees\\Images : dir001.slp\r\n"
                             "Donnees\\Neuf : dir002.slp\r\n[delete]\r\nDonnees\\Images\\Photos\\a.jpg\r\n"
                             "Outils\\Admin.exe\r\nDonnees\\Images\\Photos\r\n[desk]"),
            std::string::npos)
      << description;
  EXPECT_EQ(Members("pkg/dir001.slp"), "logo.bmp ");
  EXPECT_EQ(result.unchangedFiles, 2u);  // Lisezmoi.txt and .keep
  EXPECT_EQ(result.unchangedBytes, 9u);
  EXPECT_FALSE(result.nothingChanged);
}

// The delta archive holds 128 members: with more changed files, the deltas go to the files
// they save most on, wherever their names sort, and the summary names every other changed
// file with its reason.
TEST_F(BuildTest, MoreChangedFilesThanTheDeltaArchiveHoldsGiveTheDeltasToTheLargest) {
  std::string large(200000, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = char((i * 2654435761u) >> 13);
  Write("staging/Zz/moteur.dll", large);
  Write("staging/Zz/outils.dll", large.substr(1000));
  const size_t small = archive::kMaxMembers + 2;
  for (size_t i = 0; i < small; ++i) Write("staging/Aa/f" + std::to_string(1000 + i) + ".txt", std::string(300, 'a'));
  fs::copy(root / "staging", root / "previous", fs::copy_options::recursive);
  large[5000] ^= 1;
  Write("staging/Zz/moteur.dll", large);
  Write("staging/Zz/outils.dll", large.substr(1000) + "x");
  for (size_t i = 0; i < small; ++i) {
    Write("staging/Aa/f" + std::to_string(1000 + i) + ".txt", std::string(300, 'a') + std::to_string(i));
  }
  const BuildResult result = Build("pkg", "previous");
  ASSERT_TRUE(result.written) << Listing(report);
  EXPECT_EQ(result.deltaFiles, archive::kMaxMembers);
  EXPECT_NE(Members("pkg/sor_delta.slp").find("Zz\\moteur.dll Zz\\outils.dll"), std::string::npos);
  // Two of the small files go whole, named with the reason.
  ASSERT_EQ(result.carriedWhole.size(), small + 2 - archive::kMaxMembers);
  for (const WholeChange& change : result.carriedWhole) {
    EXPECT_TRUE(change.relative.starts_with("Aa\\f")) << change.relative;
    EXPECT_NE(change.reason.find("holds 128 deltas"), std::string::npos) << change.reason;
  }

  // A file over the encoder's limit goes whole, named with the reason, never silently.
  const BuildResult limited = Build("pkg2", "previous", false, nullptr, 100000);
  ASSERT_TRUE(limited.written) << Listing(report);
  const auto over = std::find_if(limited.carriedWhole.begin(), limited.carriedWhole.end(),
                                 [](const WholeChange& change) { return change.relative == "Zz\\moteur.dll"; });
  ASSERT_NE(over, limited.carriedWhole.end());
  EXPECT_NE(over->reason.find("over the delta encoder's limit of 100000 bytes (new file: 200000 bytes)"),
            std::string::npos) << over->reason;
}

// A release that renamed its library (and changed it a little) and moved a file unchanged,
// twice: each is made from the previous file, and the two identical results share a delta.
TEST_F(BuildTest, RenamedAndMovedFilesAreMadeFromThePreviousFile) {
  std::string library(100000, '\0');
  for (size_t i = 0; i < library.size(); ++i) library[i] = char((i * 2654435761u) >> 13);
  Write("staging/Outils/moteur-252.dll", library);
  Write("staging/Outils/modele.dat", library.substr(500));
  fs::copy(root / "staging", root / "previous", fs::copy_options::recursive);
  fs::remove(root / "staging/Outils/moteur-252.dll");
  fs::remove(root / "staging/Outils/modele.dat");
  library[700] ^= 1;
  Write("staging/Outils/moteur-253.dll", library);
  Write("staging/Donnees/modele.dat", library.substr(500));
  Write("staging/Donnees/Images/modele.dat", library.substr(500));
  const BuildResult result = Build("pkg", "previous");
  ASSERT_TRUE(result.written) << Listing(report);
  EXPECT_EQ(result.deltaFiles, 3u);
  const std::string description = Read("pkg/MjaIni.ini");
  for (const char* line : {"Outils\\moteur-253.dll|", "|Outils\\moteur-252.dll\r\n", "Donnees\\modele.dat|",
                           "Donnees\\Images\\modele.dat|", "|Outils\\modele.dat\r\n"}) {
    EXPECT_NE(description.find(line), std::string::npos) << line << " in\n" << description;
  }
  EXPECT_EQ(Members("pkg/sor_delta.slp"), "Donnees\\modele.dat Outils\\moteur-253.dll ");
  EXPECT_EQ(report.Status(), 0) << Listing(report);
}

// A release script sees which delta is being made, and its progress inside a large file.
TEST_F(BuildTest, DeltasReportTheirProgressFileByFileAndInsideALargeFile) {
  std::string large(3 << 20, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = char((i * 2654435761u) >> 13);
  Write("staging/Zz/moteur.dll", large);
  fs::copy(root / "staging", root / "previous", fs::copy_options::recursive);
  large[5000] ^= 1;
  Write("staging/Zz/moteur.dll", large);
  Write("staging/Varnolith.exe", "exe 2.9.1");
  std::FILE* lines = std::tmpfile();
  Progress progress(lines, Progress::Style::JsonLines);
  ASSERT_TRUE(Build("pkg", "previous", false, &progress).written) << Listing(report);
  std::rewind(lines);
  std::string text;
  for (int c; (c = std::fgetc(lines)) != EOF;) text += char(c);
  std::fclose(lines);
  EXPECT_NE(text.find(R"({"progress":"delta 1 of 2: Varnolith.exe","percent":0,)"), std::string::npos) << text;
  const size_t large_ = text.find(R"("progress":"delta 2 of 2: Zz/moteur.dll")");
  ASSERT_NE(large_, std::string::npos) << text;
  int within = 0;  // lines of the large file between its start and its end
  for (size_t at = large_; (at = text.find("delta 2 of 2", at + 1)) != std::string::npos;) {
    const int percent = std::atoi(text.c_str() + text.find("percent\":", at) + 9);
    within += percent > 0 && percent < 100;
  }
  EXPECT_GE(within, 1) << text;
}

TEST_F(BuildTest, SinceTakesAStagingTreeSaysWhenNothingChangedAndHandlesPathsThatChangeKind) {
  fs::copy(root / "staging", root / "previous", fs::copy_options::recursive);
  ASSERT_TRUE(Build("pkg", "previous").written) << Listing(report);
  EXPECT_TRUE(Build("pkg2", "previous").nothingChanged);
  EXPECT_FALSE(Build("pkg3", "pkg").written);
  EXPECT_NE(Listing(report).find("[since-is-package]"), std::string::npos) << Listing(report);

  // A file that becomes a directory, and a directory that becomes a file.
  fs::remove(root / "staging/Lisezmoi.txt");
  Write("staging/Lisezmoi.txt/fr.txt", "lisez-moi");
  fs::remove_all(root / "staging/Outils");
  Write("staging/Outils", "a file now");
  const BuildResult result = Build("pkg4", "previous");
  ASSERT_TRUE(result.written) << Listing(report);
  const std::string description = Read("pkg4/MjaIni.ini");
  EXPECT_NE(description.find("[subdir]\r\nLisezmoi.txt\r\n"), std::string::npos) << description;
  EXPECT_NE(description.find("[delete]\r\nLisezmoi.txt\r\nOutils\\Admin.exe\r\nOutils\r\n"), std::string::npos)
      << description;
  EXPECT_EQ(Members("pkg4/sor_ti1.slp"), "Outils Varxxlith.ocx ");
}

}  // namespace
}  // namespace varno::pack
