#include "components/control_registration.h"
#include "app/run_log.h"

#include <gtest/gtest.h>

#include "base/update_error.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kProductKey;
using fake::kTestInstallDir;
using fake::MemoryMachine;
using Lines = std::vector<std::string>;

constexpr char kSystemControl[] = "C:\\WINDOWS\\system32\\Varxxlith.ocx";
constexpr char kInstalledControl[] = "C:\\Program Files\\TolMerik\\Varnolith\\Varxxlith.ocx";
constexpr char kDatabaseLibrary[] = "C:\\Program Files\\TolMerik\\Varnolith\\VarnoUpDate.dll";

class ControlRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    state.installDir = kTestInstallDir;
    log.Start("C:\\Users\\Pierre\\Desktop");
  }

  Lines InstallLines() {
    Platform platform = machine.platform();
    InstallControl(platform, state, log);
    return Lines(log.Lines().begin() + 1, log.Lines().end());
  }

  std::string InstallError() {
    try {
      InstallLines();
    } catch (const UpdateError& error) {
      return error.what();
    }
    return "<no error>";
  }

  bool UpDate() {
    Platform platform = machine.platform();
    return SetUpDateTable(platform, state);
  }

  MemoryMachine machine;
  RunState state;
  RunLog log{machine.files};
};

TEST_F(ControlRegistrationTest, CopiesTheControlIntoTheSystemDirectoryAndRegistersItThere) {
  EXPECT_EQ(InstallLines(), (Lines{"Avant l'enregistrement de Varxxlith.ocx",
                                   "Enregistrement de Varxxlith.ocx dans C:\\WINDOWS\\system32",
                                   "Après l'enregistrement de Varxxlith.ocx"}));
  EXPECT_TRUE(machine.files.FileExists(kSystemControl));
  EXPECT_EQ(machine.libraries.loaded, Lines{kSystemControl});
  EXPECT_EQ(machine.libraries.called, Lines{"DllRegisterServer"});
  EXPECT_EQ(machine.libraries.open, 0);
}

TEST_F(ControlRegistrationTest, AnEarlierCopyIsDeletedFirst) {
  machine.files.AddFile(kSystemControl, "old control");
  EXPECT_EQ(InstallLines(), (Lines{"Avant l'enregistrement de Varxxlith.ocx",
                                   "C:\\WINDOWS\\system32\\Varxxlith.ocx : succes de la supression",
                                   "Enregistrement de Varxxlith.ocx dans C:\\WINDOWS\\system32",
                                   "Après l'enregistrement de Varxxlith.ocx"}));
  EXPECT_EQ(machine.files.Content(kSystemControl), "MZ");
}

TEST_F(ControlRegistrationTest, ACopyThatFailsRegistersTheControlWhereItLies) {
  machine.files.AddFile(kSystemControl, "old control");
  machine.files.SetInUse(kSystemControl);
  EXPECT_EQ(InstallLines(), (Lines{"Avant l'enregistrement de Varxxlith.ocx",
                                   "C:\\WINDOWS\\system32\\Varxxlith.ocx : échec de la supression",
                                   "Echec lors de la copie de Varxxlith.ocx dans C:\\WINDOWS\\system32",
                                   "Après l'enregistrement de Varxxlith.ocx"}));
  EXPECT_EQ(machine.files.Content(kSystemControl), "old control");
  EXPECT_EQ(machine.libraries.loaded, Lines{kInstalledControl});
}

TEST_F(ControlRegistrationTest, AProtectedSystemDirectoryFallsBackToo) {
  machine.files.RefuseWritesUnder("C:\\WINDOWS\\system32");
  EXPECT_EQ(InstallLines().at(1), "Echec lors de la copie de Varxxlith.ocx dans C:\\WINDOWS\\system32");
  EXPECT_EQ(machine.libraries.loaded, Lines{kInstalledControl});
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST_F(ControlRegistrationTest, NoControlAnywhereIsToldAndTheStageGoesOn) {
  machine.files.RemoveFile(kInstalledControl);
  EXPECT_EQ(InstallLines().back(), "Après l'enregistrement de Varxxlith.ocx");
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Message);
  EXPECT_EQ(machine.dialogs.shown[0].text, std::string(kInstalledControl) + "   n'existe pas");
  EXPECT_TRUE(machine.libraries.loaded.empty());
}

TEST_F(ControlRegistrationTest, OnlyAStatusOfZeroIsSuccess) {
  machine.libraries.Add(kSystemControl).exports["DllRegisterServer"] = [] { return 1u; };
  EXPECT_EQ(InstallError(), "L'appel à DllRegisterServer a échoué dans \"C:\\WINDOWS\\system32\\Varxxlith.ocx\"");
  EXPECT_EQ(machine.libraries.open, 0);
  EXPECT_NE(log.Lines().back(), "Après l'enregistrement de Varxxlith.ocx");
}

TEST_F(ControlRegistrationTest, ALibraryThatCannotBeLoadedOrLacksTheExportRaises) {
  machine.libraries.libraries.erase(AnsiUpperCase(kSystemControl));
  EXPECT_EQ(InstallError(), "Echec au chargement de \"C:\\WINDOWS\\system32\\Varxxlith.ocx\"");
  machine.libraries.Add(kSystemControl);
  EXPECT_EQ(InstallError(), "Procédure DllRegisterServer non trouvée dans \"C:\\WINDOWS\\system32\\Varxxlith.ocx\"");
  EXPECT_EQ(machine.libraries.open, 0);
}

TEST_F(ControlRegistrationTest, RegisterOcxDoesNothingForAMissingFile) {
  Platform platform = machine.platform();
  RegisterOCX(platform, "C:\\nowhere\\Varxxlith.ocx");
  EXPECT_TRUE(machine.libraries.loaded.empty());
}

TEST_F(ControlRegistrationTest, AnUpToDateDatabaseLeavesTheLibraryAlone) {
  for (uint32_t level : {15u, 200u, 0x10Fu}) {
    machine.registry.PutDword(kHkeyLocalMachine, kProductKey, "VarnoInst", level);
    machine.libraries.loaded.clear();
    EXPECT_TRUE(UpDate()) << level;
    EXPECT_TRUE(machine.libraries.loaded.empty()) << level;
  }
}

TEST_F(ControlRegistrationTest, AnyOtherLevelCallsTheLibrary) {
  for (uint32_t level : {14u, 0u, 256u}) {
    machine.registry.PutDword(kHkeyLocalMachine, kProductKey, "VarnoInst", level);
    machine.libraries.loaded.clear();
    EXPECT_TRUE(UpDate()) << level;
    EXPECT_EQ(machine.libraries.loaded, Lines{kDatabaseLibrary}) << level;
  }
  EXPECT_EQ(fake::DatabaseLevel(machine), 15);

  MemoryMachine fresh;
  fake::InstallProduct(fresh);  // no "VarnoInst" at all
  Platform platform = fresh.platform();
  EXPECT_TRUE(SetUpDateTable(platform, state));
  EXPECT_EQ(fresh.libraries.loaded, Lines{kDatabaseLibrary});
  EXPECT_EQ(fresh.libraries.open, 0);
}

TEST_F(ControlRegistrationTest, OnlyTheLowByteOfTheResultCounts) {
  for (const auto& [result, success] : std::vector<std::pair<uint32_t, bool>>{
           {0u, false}, {0x100u, false}, {1u, true}, {0x1FFu, true}, {0xFFFFFF00u, false}}) {
    machine.libraries.Add(kDatabaseLibrary).exports["VarnoTableInstall"] = [result] { return result; };
    EXPECT_EQ(UpDate(), success) << result;
  }
}

TEST_F(ControlRegistrationTest, AMissingLibraryOrExportIsAFailedUpdateNeverACall) {
  machine.libraries.libraries.erase(AnsiUpperCase(kDatabaseLibrary));
  EXPECT_FALSE(UpDate());
  machine.libraries.Add(kDatabaseLibrary);
  EXPECT_FALSE(UpDate());
  EXPECT_TRUE(machine.libraries.called.empty());
  EXPECT_EQ(machine.libraries.open, 0);
}

TEST_F(ControlRegistrationTest, ALevelThatIsNoIntegerRaises) {
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "VarnoInst", "15");
  try {
    UpDate();
    FAIL() << "no error raised";
  } catch (const UpdateError& error) {
    EXPECT_STREQ(error.what(), "Type de données incorrect pour 'VarnoInst'");
  }
}

}  // namespace
}  // namespace varno
