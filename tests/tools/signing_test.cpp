// Signed packages end to end on the host: the vendor's keygen and sign, the updater's gate
// in the driver (on the in-memory machine, with OpenSSL as the system's cryptography), and
// the signature file's format.
#include "signing/signing.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "app/form1.h"
#include "base/ansi_text.h"
#include "base/rsa_public_key.h"
#include "base/text_lines.h"
#include "base/texts.h"
#include "package/archive_writer.h"
#include "package/held_package_files.h"
#include "package/package_manifest.h"
#include "platform/openssl/openssl_crypto.h"
#include "steps/package_files.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno::pack {
namespace {

using fake::MemoryMachine;
using fake::ShownBox;

constexpr char kPackage[] = "C:\\Package";
constexpr char kDesktopLog[] = "C:\\Users\\Pierre\\Desktop\\VarnoMaJLog.txt";
constexpr char kNotSigned[] = "Le paquet de mise à jour n'est pas signé ou a été modifié.";

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class SignedPackageTest : public ::testing::Test {
 protected:
  // Two vendors' keys, made once: 3072-bit keys take a while.
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/varno-keys-XXXXXX";
    keyDir_ = new std::string(::mkdtemp(pattern));
    Report report;
    ASSERT_TRUE(GenerateKeyPair(*keyDir_ + "/vendor.pem", report));
    ASSERT_TRUE(GenerateKeyPair(*keyDir_ + "/other.pem", report));
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*keyDir_);
    delete keyDir_;
  }
  static std::string Key(const char* name) { return *keyDir_ + "/" + name; }

  void SetUp() override {
    fake::InstallProduct(machine);
    fake::WritePackageDescription(machine, "2816090",
                                  "[subdir]\r\nAide\r\nPlus\r\n[insubdir]\r\nAide: aide.slp\r\nPlus: late.slp\r\n");
    auto& files = machine.files;
    files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("Nouveau.txt", "nouveau")}));
    files.AddFile("C:\\Package\\aide.slp", ArchiveBytes({MemberFromBytes("Lisez-moi.txt", "aide")}));
    files.AddFile("C:\\Package\\Varxxlith.ocx", "control");
    files.AddFile("C:\\Package\\Action.exe", "MZ action");
    trust_.publicKeyPem = ReadHost(Key("vendor.pub.pem"));
  }

  // Signs the files of the package the run reads that are there; the description names
  // "late.slp", which is not, as a signer other than "sign" may leave it.
  void Sign(const char* key = "vendor.pem") {
    Report report;
    const auto signingKey = LoadSigningKey(Key(key), "", report);
    ASSERT_TRUE(signingKey);
    ASSERT_TRUE(SignFiles(machine.files, kPackage, PackageFilesTheRunReads(machine.files, kPackage), *signingKey, report))
        << (report.Findings().empty() ? "" : report.Findings()[0].message);
  }

  void Run() {
    Platform platform = machine.platform();
    RunApplication(platform, "WINDOWS NT", &trust_);
  }

  // The machine as the run must leave it when it refuses: all but the run log.
  std::string StateWithoutLog() {
    const auto log = machine.files.Content(kDesktopLog);
    if (log) machine.files.RemoveFile(kDesktopLog);
    std::string state = machine.files.Dump() + machine.registry.Dump();
    for (const auto& name : machine.processes.started) state += "started " + name + "\n";
    if (log) machine.files.AddFile(kDesktopLog, *log);
    return state;
  }

  void Flip(const std::string& path, size_t at) {
    std::string bytes = *machine.files.Content(path);
    bytes[at % bytes.size()] ^= 1;
    machine.files.AddFile(path, bytes);
  }

  void ExpectRefused(const std::string& file, const char* reason) {
    machine.dialogs.shown.clear();
    const std::string before = StateWithoutLog();
    Run();
    ASSERT_EQ(machine.dialogs.shown.size(), 1u) << machine.Dump();
    EXPECT_EQ(machine.dialogs.shown[0].text, kNotSigned);
    const auto log = SplitTextLines(machine.files.Content(kDesktopLog).value_or(""));
    EXPECT_NE(std::find(log.begin(), log.end(), "Paquet refusé : " + file + " (" + reason + ")"), log.end())
        << machine.files.Content(kDesktopLog).value_or("<no log>");
    EXPECT_EQ(StateWithoutLog(), before) << "the refused run changed the machine";
    EXPECT_FALSE(machine.files.HeldAgainstWriters("C:\\Package\\MjaIni.ini"));
  }

  static std::string* keyDir_;
  MemoryMachine machine;
  openssl::OpenSslCrypto crypto_;
  PackageTrust trust_{crypto_, {}};
};
std::string* SignedPackageTest::keyDir_ = nullptr;

TEST_F(SignedPackageTest, KeygenMakesAPrivateKeyForItsOwnerOnlyAndNeverReplacesOne) {
  struct stat info{};
  ASSERT_EQ(::stat(Key("vendor.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(ReadHost(Key("vendor.pub.pem")).find("-----BEGIN PUBLIC KEY-----"), std::string::npos);
  const std::string before = ReadHost(Key("vendor.pem"));
  Report report;
  EXPECT_FALSE(GenerateKeyPair(Key("vendor.pem"), report));
  EXPECT_EQ(ReadHost(Key("vendor.pem")), before);
}

TEST_F(SignedPackageTest, ASignedPackageIsAppliedWithItsFilesHeldUntilTheEnd) {
  Sign();
  Report report;
  EXPECT_TRUE(VerifyPackage(machine.files, kPackage, Key("vendor.pub.pem"), report));
  const auto manifest = ParseSignatureFile(*machine.files.Content("C:\\Package\\MjaIni.sig"));
  ASSERT_TRUE(manifest);
  std::vector<std::string> names;
  for (const auto& entry : manifest->files) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"MjaIni.ini", "sor_ti1.slp", "aide.slp", "Varxxlith.ocx", "Action.exe"}));

  Platform platform = machine.platform();
  {
    TForm1 form(platform, "WINDOWS NT", &trust_);
    form.FormCreate();
    EXPECT_TRUE(machine.dialogs.shown.empty() || machine.dialogs.shown.back().text != kNotSigned);
    EXPECT_EQ(machine.files.Content("C:\\Program Files\\TolMerik\\Varnolith\\Nouveau.txt"), "nouveau") << machine.Dump();
    for (const std::string& name : names) {
      EXPECT_TRUE(machine.files.HeldAgainstWriters(JoinPath(kPackage, name))) << name;
    }
    EXPECT_FALSE(machine.files.ReplaceWholeFile("C:\\Package\\sor_ti1.slp", "swapped"));
    EXPECT_FALSE(machine.files.RemoveFile("C:\\Package\\aide.slp"));
    form.FormDestroy();
  }
  EXPECT_FALSE(machine.files.HeldAgainstWriters("C:\\Package\\sor_ti1.slp"));
}

TEST_F(SignedPackageTest, FilesAbsentAtTheGateStayAbsentWhateverAppearsWhileTheQuestionWaits) {
  machine.files.RemoveFile("C:\\Package\\sor_ti1.slp");
  machine.files.RemoveFile("C:\\Package\\Action.exe");
  Sign();
  const auto drop = [this](const ShownBox&) {
    machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("Cheval.exe", "MZ")}));
    machine.files.AddFile("C:\\Package\\late.slp", ArchiveBytes({MemberFromBytes("Cheval2.exe", "MZ")}));
    machine.files.AddFile("C:\\Package\\Action.exe", "MZ planted");
  };
  machine.dialogs.whileShown = drop;
  Run();
  EXPECT_EQ(machine.files.Content("C:\\Program Files\\TolMerik\\Varnolith\\Aide\\Lisez-moi.txt"), "aide")
      << machine.Dump();
  EXPECT_FALSE(machine.files.FileExists("C:\\Program Files\\TolMerik\\Varnolith\\Cheval.exe"));
  EXPECT_FALSE(machine.files.FileExists("C:\\Program Files\\TolMerik\\Varnolith\\Plus\\Cheval2.exe"));

  // A run that fails its rights gate starts the companion program only when the gate held it.
  for (const char* name : {"sor_ti1.slp", "late.slp", "Action.exe"}) machine.files.RemoveFile(JoinPath(kPackage, name));
  machine.registry.Refuse(kHkeyLocalMachine, "SOFTWARE\\DeleteMe", kKeySetValue | kKeyCreateSubKey);
  machine.dialogs.shown.clear();
  Run();
  ASSERT_FALSE(machine.dialogs.shown.empty());
  EXPECT_NE(machine.dialogs.shown.back().text.find("droits"), std::string::npos) << machine.Dump();
  EXPECT_TRUE(machine.processes.started.empty());
}

TEST_F(SignedPackageTest, TheRunReadsTheHeldBytesWhenThePackageDirectoryIsMovedAndAnotherPutInItsPlace) {
  Sign();
  machine.dialogs.whileShown = [this](const ShownBox&) {
    machine.dialogs.whileShown = nullptr;
    machine.files.MoveTree(kPackage, "C:\\Signe");
    fake::WritePackageDescription(machine, "2816090", "[insubdir]\r\nAide: autre.slp\r\n");
    machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("Nouveau.txt", "changé")}));
    machine.files.AddFile("C:\\Package\\autre.slp", ArchiveBytes({MemberFromBytes("Cheval.exe", "MZ")}));
  };
  Run();
  const std::string install = "C:\\Program Files\\TolMerik\\Varnolith\\";
  EXPECT_EQ(machine.files.Content(install + "Nouveau.txt"), "nouveau") << machine.Dump();
  EXPECT_EQ(machine.files.Content(install + "Aide\\Lisez-moi.txt"), "aide");
  EXPECT_FALSE(machine.files.FileExists(install + "Aide\\Cheval.exe"));
}

TEST_F(SignedPackageTest, WithoutADesktopTheRunLogInThePackageDirectoryIsStillReadAndRemovedByName) {
  Sign();
  ASSERT_TRUE(machine.files.RemoveEmptyDirectory("C:\\Users\\Pierre\\Desktop"));
  // The log cannot be moved over an earlier one: it is removed from the package directory.
  const std::string installLog = "C:\\Program Files\\TolMerik\\Varnolith\\VarnoMaJLog.txt";
  machine.files.AddFile(installLog, "earlier run\r\n");
  Run();
  EXPECT_FALSE(machine.files.FileExists("C:\\Package\\VarnoMaJLog.txt")) << machine.Dump();
  const auto log = SplitTextLines(machine.files.Content(installLog).value_or(""));
  EXPECT_NE(std::find(log.begin(), log.end(), "Le fichier journal provisoire a été supprimé du bureau"), log.end())
      << machine.files.Content(installLog).value_or("<no log>");
}

TEST_F(SignedPackageTest, EverySpellingOfAPackagePathReachesOnlyTheHeldFiles) {
  Sign();
  HeldPackage held;
  ASSERT_FALSE(VerifyPackageForRun(machine.files, crypto_, trust_.publicKeyPem, kPackage, held));
  HeldPackageFiles files(machine.files);
  machine.files.AddFile("C:\\Package\\late.slp", "late");
  machine.files.AddFile("C:\\Autre\\late.slp", "elsewhere");
  EXPECT_TRUE(files.FileExists("C:\\Package\\late.slp")) << "before the seal, the disk answers";
  files.Seal(kPackage, std::move(held));
  for (const char* path : {"sor_ti1.slp", "C:\\PACKAGE\\Sor_Ti1.slp", "C:\\Package\\Aide\\..\\sor_ti1.slp",
                           "C:/Package/sor_ti1.slp", "C:\\Autre\\..\\Package\\sor_ti1.slp"}) {
    EXPECT_TRUE(files.FileExists(path)) << path;
  }
  for (const char* path : {"late.slp", "C:\\Package\\late.slp", ".\\late.slp", "C:\\Package\\x\\..\\late.slp",
                           "C:\\Package\\MjaIni.sig\\..\\late.slp"}) {
    EXPECT_FALSE(files.FileExists(path)) << path;
    EXPECT_FALSE(files.OpenForReading(path)) << path;
    EXPECT_FALSE(files.OpenHeldAgainstWriters(path)) << path;
  }
  EXPECT_FALSE(files.CopyFileTo("late.slp", "C:\\Autre\\copie.slp"));
  EXPECT_EQ(files.ReadWholeFile("C:\\Autre\\late.slp"), "elsewhere") << "outside the package, the disk answers";

  // Two readers of one held file keep their own positions.
  machine.files.AddFile("C:\\Package\\Action.exe", "changed after the gate");
  auto first = files.OpenForReading("Action.exe"), second = files.OpenForReading("C:\\Package\\Action.exe");
  ASSERT_TRUE(first && second);
  char a[3] = {}, b[9] = {};
  EXPECT_EQ(first->Read(a, 3), 3u);
  EXPECT_EQ(second->Read(b, 9), 9u);
  EXPECT_EQ(first->Read(a, 3), 3u);
  EXPECT_EQ(std::string(a, 3), "act");
  EXPECT_EQ(std::string(b, 9), "MZ action");
  EXPECT_TRUE(files.CopyFileTo("Action.exe", "C:\\Autre\\Action.exe"));
  EXPECT_EQ(machine.files.Content("C:\\Autre\\Action.exe"), "MZ action");
}

TEST_F(SignedPackageTest, SignRefusesADescriptionThatNamesAMissingArchive) {
  Report report;
  EXPECT_FALSE(SignPackage(machine.files, kPackage, Key("vendor.pem"), report));
  ASSERT_EQ(report.Findings().size(), 1u);
  EXPECT_EQ(report.Findings()[0].code, "archive-missing");
  EXPECT_EQ(report.Findings()[0].file, "late.slp");
  EXPECT_FALSE(machine.files.FileExists("C:\\Package\\MjaIni.sig"));
  machine.files.AddFile("C:\\Package\\late.slp", ArchiveBytes({MemberFromBytes("Plus.txt", "plus")}));
  EXPECT_TRUE(SignPackage(machine.files, kPackage, Key("vendor.pem"), report));
}

// An RSA key pair of that size, as PEM files beside the vendor's keys.
void WriteRsaKeyPair(const std::string& privateFile, const std::string& publicFile, int bits) {
  EVP_PKEY* key = EVP_RSA_gen(static_cast<unsigned>(bits));
  ASSERT_TRUE(key);
  FILE* out = std::fopen(privateFile.c_str(), "w");
  PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(out);
  out = std::fopen(publicFile.c_str(), "w");
  PEM_write_PUBKEY(out, key);
  std::fclose(out);
  EVP_PKEY_free(key);
}

TEST_F(SignedPackageTest, KeysOfFewerThan2048BitsAreRefusedBySignAndVerify) {
  machine.files.AddFile("C:\\Package\\late.slp", ArchiveBytes({MemberFromBytes("Plus.txt", "plus")}));
  WriteRsaKeyPair(Key("small.pem"), Key("small.pub.pem"), 1024);
  Report report;
  EXPECT_FALSE(SignPackage(machine.files, kPackage, Key("small.pem"), report));
  EXPECT_FALSE(machine.files.FileExists("C:\\Package\\MjaIni.sig"));
  Sign();
  EXPECT_FALSE(VerifyPackage(machine.files, kPackage, Key("small.pub.pem"), report));
  ASSERT_EQ(report.Findings().size(), 2u);
  for (const Finding& finding : report.Findings()) {
    EXPECT_EQ(finding.code, "key-too-small");
    EXPECT_NE(finding.message.find("1024 bits; at least 2048"), std::string::npos) << finding.message;
  }
  // The updater's own reading of a key measures it alike.
  EXPECT_EQ(ParseRsaPublicKeyPem(ReadHost(Key("small.pub.pem")))->Bits(), 1024u);
  std::string pem = ReadHost(Key("vendor.pub.pem"));
  EXPECT_EQ(ParseRsaPublicKeyPem(pem)->Bits(), 3072u);
  EXPECT_FALSE(ParseRsaPublicKeyPem(pem.substr(0, pem.find("-----END") - 9) + "\n-----END PUBLIC KEY-----\n"));
  EXPECT_FALSE(ParseRsaPublicKeyPem(ReadHost(Key("small.pem"))));
}

TEST_F(SignedPackageTest, OneChangedByteInAnyKindOfFileIsRefused) {
  Sign();
  for (const char* name : {"MjaIni.ini", "sor_ti1.slp", "aide.slp", "Varxxlith.ocx", "Action.exe"}) {
    SCOPED_TRACE(name);
    const std::string path = JoinPath(kPackage, name);
    const std::string original = *machine.files.Content(path);
    Flip(path, original.size() / 2);
    ExpectRefused(name, "contenu modifié");
    machine.files.AddFile(path, original);
  }
  // Tampering with the signed list itself breaks the signature.
  std::string signature = *machine.files.Content("C:\\Package\\MjaIni.sig");
  signature.replace(signature.find(" aide.slp"), 9, " aide.SLP");
  machine.files.AddFile("C:\\Package\\MjaIni.sig", signature);
  ExpectRefused("MjaIni.sig", "signature non valide");
}

TEST_F(SignedPackageTest, ARemovedFileIsRefused) {
  Sign();
  machine.files.RemoveFile("C:\\Package\\Varxxlith.ocx");
  ExpectRefused("Varxxlith.ocx", "fichier absent");
}

TEST_F(SignedPackageTest, AnArchiveTheDescriptionNamesButTheSignatureDoesNotIsRefused) {
  Sign();
  machine.files.AddFile("C:\\Package\\late.slp", ArchiveBytes({MemberFromBytes("Cheval.exe", "MZ")}));
  ExpectRefused("late.slp", "fichier non signé");
  Report report;
  EXPECT_FALSE(VerifyPackage(machine.files, kPackage, Key("vendor.pub.pem"), report));
  ASSERT_EQ(report.Findings().size(), 1u);
  EXPECT_EQ(report.Findings()[0].code, "file-not-listed");
}

TEST_F(SignedPackageTest, AnotherVendorsKeyIsRefused) {
  Sign("other.pem");
  ExpectRefused("MjaIni.sig", "signature non valide");
}

TEST_F(SignedPackageTest, ATruncatedOrMissingSignatureIsRefused) {
  Sign();
  const std::string whole = *machine.files.Content("C:\\Package\\MjaIni.sig");
  // Cut inside the signature's digits, line end kept: well formed, but one byte short.
  machine.files.AddFile("C:\\Package\\MjaIni.sig", whole.substr(0, whole.size() - 3) + "\n");
  ExpectRefused("MjaIni.sig", "signature non valide");
  machine.files.AddFile("C:\\Package\\MjaIni.sig", whole.substr(0, whole.size() - 2));
  ExpectRefused("MjaIni.sig", "signature illisible");
  machine.files.RemoveFile("C:\\Package\\MjaIni.sig");
  ExpectRefused("MjaIni.sig", "signature absente");
}

// The vendor's key protected by a passphrase, as a release engineer keeps it.
void WriteEncryptedKey(const std::string& from, const std::string& to, const char* passphrase) {
  const std::string pem = ReadHost(from);
  BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
  BIO* out = BIO_new_file(to.c_str(), "w");
  ASSERT_EQ(PEM_write_bio_PKCS8PrivateKey(out, key, EVP_aes_256_cbc(), nullptr, 0, nullptr,
                                          const_cast<char*>(passphrase)), 1);
  BIO_free(out);
  EVP_PKEY_free(key);
  BIO_free(in);
}

std::string Messages(const Report& report) {
  std::string text;
  for (const Finding& finding : report.Findings()) text += FindingLine(finding) + "\n";
  return text;
}

TEST_F(SignedPackageTest, APassphraseComesFromTheNamedVariableAndAWrongKindOfKeyIsNamed) {
  WriteEncryptedKey(Key("vendor.pem"), Key("locked.pem"), "s3cret");
  ::setenv("VARNO_TEST_PASSPHRASE", "s3cret", 1);
  Report report;
  const auto key = LoadSigningKey(Key("locked.pem"), "VARNO_TEST_PASSPHRASE", report);
  ASSERT_TRUE(key) << Messages(report);
  // The fixture's description names an archive it lacks, which SignPackage refuses: the
  // files that are there are signed as the fixture's own Sign does.
  ASSERT_TRUE(SignFiles(machine.files, kPackage, PackageFilesTheRunReads(machine.files, kPackage), *key, report))
      << Messages(report);
  EXPECT_TRUE(VerifyPackage(machine.files, kPackage, Key("vendor.pub.pem"), report)) << Messages(report);

  const std::pair<std::string, std::string> refused[] = {
      {"locked.pem", "the passphrase does not open this key"},
      {"vendor.pub.pem", "is a public key: signing takes the private key"},
  };
  ::setenv("VARNO_TEST_PASSPHRASE", "wrong", 1);
  for (const auto& [file, message] : refused) {
    Report refusal;
    EXPECT_FALSE(LoadSigningKey(Key(file.c_str()), "VARNO_TEST_PASSPHRASE", refusal));
    EXPECT_NE(Messages(refusal).find(message), std::string::npos) << Messages(refusal);
  }
  ::unsetenv("VARNO_TEST_PASSPHRASE");
  Report unset;
  EXPECT_FALSE(LoadSigningKey(Key("locked.pem"), "VARNO_TEST_PASSPHRASE", unset));
  EXPECT_NE(Messages(unset).find("VARNO_TEST_PASSPHRASE is not set"), std::string::npos) << Messages(unset);

  Report wrongPublic;
  EXPECT_FALSE(VerifyPackage(machine.files, kPackage, Key("vendor.pem"), wrongPublic));
  EXPECT_NE(Messages(wrongPublic).find("is a private key: --public-key takes the public key"), std::string::npos)
      << Messages(wrongPublic);
  std::ofstream(Key("junk.pem")) << "not a key";
  Report junk;
  EXPECT_FALSE(VerifyPackage(machine.files, kPackage, Key("junk.pem"), junk));
  EXPECT_NE(Messages(junk).find("is not a PEM public key"), std::string::npos) << Messages(junk);
}

// The code a key-bound updater loads as administrator: the control and the database library
// are the bytes the run wrote from the signed package, or files only administrators can have
// written; anything else is refused before the commit, the run taken back, nothing loaded.
class SignedCodeTest : public SignedPackageTest {
 protected:
  const std::string install_ = "C:\\Program Files\\TolMerik\\Varnolith";
  std::string ControlPath() const { return install_ + "\\Varxxlith.ocx"; }
  std::string SystemControl() { return machine.system.systemDirectory + "\\Varxxlith.ocx"; }

  // The machine but the run logs, on the desktop and in the installation.
  std::string StateWithoutLogs() {
    const std::string log = install_ + "\\VarnoMaJLog.txt";
    const auto kept = machine.files.Content(log);
    if (kept) machine.files.RemoveFile(log);
    std::string state = StateWithoutLog();
    if (kept) machine.files.AddFile(log, *kept);
    return state;
  }

  void ExpectRefusedBeforeTheCommit(const std::string& box) {
    const std::string before = StateWithoutLogs();
    Run();
    ASSERT_FALSE(machine.dialogs.shown.empty()) << machine.Dump();
    EXPECT_EQ(machine.dialogs.shown.back().text, box + ".");
    EXPECT_TRUE(machine.libraries.loaded.empty()) << machine.libraries.loaded[0];
    EXPECT_EQ(StateWithoutLogs(), before) << "the refused run left the machine changed";
  }
};

TEST_F(SignedCodeTest, TheControlTheRunUnpackedIsRegisteredFromTheBytesItWrote) {
  machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("Varxxlith.ocx", "MZ signé")}));
  Sign();
  Run();
  EXPECT_EQ(machine.files.Content(SystemControl()), "MZ signé") << machine.Dump();
  EXPECT_EQ(machine.libraries.loaded, (std::vector<std::string>{SystemControl(), install_ + "\\VarnoUpDate.dll"}));
}

TEST_F(SignedCodeTest, AControlSwappedAfterItWasUnpackedIsNeverCopiedNorRegistered) {
  machine.files.AddFile("C:\\Package\\sor_ti1.slp", ArchiveBytes({MemberFromBytes("Varxxlith.ocx", "MZ signé")}));
  Sign();
  // A user who may write the installation swaps the control between its unpacking and its
  // registration.
  machine.window.onCaption = [this](Control, const std::string& caption) {
    if (caption == text::kStatusFinished) machine.files.PlantAsStandardUser(ControlPath(), "MZ planted");
  };
  ExpectRefusedBeforeTheCommit(FormatText(text::kCodeChangedSinceWritten, {ControlPath()}));
  EXPECT_FALSE(machine.files.FileExists(SystemControl()));
}

TEST_F(SignedCodeTest, InstalledCodeThatOthersCouldHaveWrittenIsNeverLoaded) {
  Sign();
  machine.files.PlantAsStandardUser(ControlPath(), "MZ planted");
  ExpectRefusedBeforeTheCommit(FormatText(text::kCodeNotSigned, {ControlPath(), text::kUntrustedOwner}));
}

TEST_F(SignedCodeTest, APlantedDatabaseLibraryIsRefusedBeforeTheCommit) {
  Sign();
  const std::string library = install_ + "\\VarnoUpDate.dll";
  machine.files.PlantAsStandardUser(library, "MZ planted");
  // The control, an administrator's file, is registered before the library's check; the
  // rollback registers the previous one again.
  const std::string before = StateWithoutLogs();
  Run();
  ASSERT_FALSE(machine.dialogs.shown.empty()) << machine.Dump();
  EXPECT_EQ(machine.dialogs.shown.back().text,
            FormatText(text::kCodeNotSigned, {library, text::kUntrustedOwner}) + ".");
  EXPECT_EQ(std::count(machine.libraries.loaded.begin(), machine.libraries.loaded.end(), library), 0);
  EXPECT_EQ(StateWithoutLogs(), before);
}

TEST_F(SignedCodeTest, AnAdministratorsFileInADirectoryOthersMayWriteIsNotTrusted) {
  Sign();
  machine.files.SetOwner(install_, fake::MemoryFileSystem::Owner::Administrators, true);
  ExpectRefusedBeforeTheCommit(FormatText(text::kCodeNotSigned, {ControlPath(), text::kUntrustedWritable}));
}

TEST(SignatureFileFormat, RefusesNamesThatCouldLeaveThePackageAndLinesOutOfForm) {
  for (const char* name : {"..\\x.slp", "a\\..\\b", "C:x", "\\x", "a/b", "", " x", "x\\", "a\tb"}) {
    EXPECT_FALSE(IsManifestName(name)) << name;
  }
  EXPECT_TRUE(IsManifestName("Aide\\Lisez-moi é.slp"));
  const std::string digest(32, '\x5a');
  const std::string body = FormatManifest({{"a.slp", 3, digest}});
  const auto parsed = ParseSignatureFile(FormatSignatureFile(body, "\x01\xff"));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->signedPart, body);
  EXPECT_EQ(parsed->signature, "\x01\xff");
  EXPECT_EQ(parsed->files.at(0).sha256, digest);
  // Version 2, a duplicate name (case ignored), CR LF, upper-case digits: all refused.
  std::string v2 = FormatSignatureFile(body, "\x01");
  v2[24] = '2';
  EXPECT_FALSE(ParseSignatureFile(v2));
  EXPECT_FALSE(ParseSignatureFile(FormatSignatureFile(FormatManifest({{"a.slp", 3, digest}, {"A.SLP", 3, digest}}), "\x01")));
  std::string crlf = FormatSignatureFile(body, "\x01");
  crlf.insert(crlf.find('\n'), "\r");
  EXPECT_FALSE(ParseSignatureFile(crlf));
  EXPECT_FALSE(ParseSignatureFile(body + "signature rsa-pkcs1-sha256 0A\n"));
}

}  // namespace
}  // namespace varno::pack
