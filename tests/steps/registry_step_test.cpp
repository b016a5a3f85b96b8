#include "steps/registry_step.h"

#include <bit>
#include <charconv>
#include <random>

#include <gtest/gtest.h>

#include "base/update_error.h"
#include "base/value_conversions.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kProductKey;
using fake::MemoryMachine;
using Lines = std::vector<std::string>;

class RegistryStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.packageDir = "C:\\Package";
    state.packageDescriptionPath = "C:\\Package\\MjaIni.ini";
  }

  bool Apply(const std::string& section) {
    fake::WritePackageDescription(machine, "2816090", section);
    Platform platform = machine.platform();
    return MjaVarnoReg(platform, state, record);
  }

  std::optional<fake::MemoryRegistry::Value> Value(const std::string& name) {
    return machine.registry.Get(kHkeyLocalMachine, kProductKey, name);
  }
  double Double(const std::string& name) {
    auto value = Value(name);
    if (!value || value->type != kRegBinary || value->data.size() != 8) return -999;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(value->data[i]);
    return std::bit_cast<double>(bits);
  }
  std::string Error(const std::string& section) {
    try {
      Apply(section);
    } catch (const UpdateError& error) {
      return error.what();
    }
    return "<no error>";
  }

  MemoryMachine machine;
  RunState state;
  WriteLogList record;
};

TEST(ParseRegEntry, DropsTheCharacterAfterEachSeparator) {
  const RegEntry written = ParseRegEntry("Port: integer; 8080");
  EXPECT_EQ(written.name, "Port");
  EXPECT_EQ(written.typeWord, "integer");
  EXPECT_EQ(written.value, "8080");
  const RegEntry tight = ParseRegEntry("Version:string;5.2");
  EXPECT_EQ(tight.name, "Version");
  EXPECT_EQ(tight.typeWord, "tring");
  EXPECT_EQ(tight.value, ".2");
  const RegEntry spaced = ParseRegEntry("  Nom  :  string ;  a;b  ");
  EXPECT_EQ(spaced.name, "Nom");
  EXPECT_EQ(spaced.typeWord, "string");
  EXPECT_EQ(spaced.value, "a;b");
  EXPECT_EQ(ParseRegEntry("sans deux-points").name, "");
  EXPECT_EQ(ParseRegEntry("A: string").typeWord, "");
  EXPECT_EQ(ParseRegEntry("A: string;").value, "");
}

TEST(RegTypeFromName, ComparesStringExactlyAndTheOthersWithoutAsciiCase) {
  EXPECT_EQ(RegTypeFromName("string"), RegValueType::String);
  EXPECT_EQ(RegTypeFromName("String"), RegValueType::None);
  EXPECT_EQ(RegTypeFromName("INTEGER"), RegValueType::Integer);
  EXPECT_EQ(RegTypeFromName("Bool"), RegValueType::Bool);
  EXPECT_EQ(RegTypeFromName("FLOAT"), RegValueType::Float);
  EXPECT_EQ(RegTypeFromName("date"), RegValueType::Date);
  EXPECT_EQ(RegTypeFromName("DateTime"), RegValueType::DateTime);
  EXPECT_EQ(RegTypeFromName("time"), RegValueType::Time);
  EXPECT_EQ(RegTypeFromName("int"), RegValueType::None);
}

TEST(PrepareValueText, SubstitutesOnlyForFloatsTimesAndDates) {
  RegionalSettings french{',', '/', ':', "dd/MM/yyyy"};
  EXPECT_EQ(PrepareValueText(RegValueType::Float, "0.5", french), "0,5");
  EXPECT_EQ(PrepareValueText(RegValueType::Float, "1.000.5", french), "1,000.5");  // the first one only
  RegionalSettings dotted{'.', '.', '.', "dd.MM.yyyy"};
  EXPECT_EQ(PrepareValueText(RegValueType::Float, "0,5", dotted), "0.5");
  EXPECT_EQ(PrepareValueText(RegValueType::Time, "14h30m15s", dotted), "14.30.15");
  EXPECT_EQ(PrepareValueText(RegValueType::Time, "14H30", dotted), "14H30");
  EXPECT_EQ(PrepareValueText(RegValueType::Date, "2024-02-05", dotted), "2024.02.05");
  EXPECT_EQ(PrepareValueText(RegValueType::Date, "5@2:2024/", french), "5/2/2024/");
  EXPECT_EQ(PrepareValueText(RegValueType::DateTime, "5-2-2024 8h30", dotted), "5-2-2024 8h30");
  EXPECT_EQ(PrepareValueText(RegValueType::String, "a.b", dotted), "a.b");
}

TEST_F(RegistryStepTest, WritesAStringAndRecordsItsNewName) {
  EXPECT_TRUE(Apply("[reg]\r\nVersion: string; 5.2\r\n"));
  ASSERT_TRUE(Value("Version")) << machine.registry.Dump();
  EXPECT_EQ(Value("Version")->type, kRegSz);
  EXPECT_EQ(Value("Version")->data, std::string("5.2\0", 4));
  EXPECT_EQ(record.Lines(), (Lines{"[SurValReg]", "Version"}));
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(RegistryStepTest, AMisspelledTypeWordIsRecordedButNeverWritten) {
  EXPECT_TRUE(Apply("[reg]\r\nVersion:string;5.2\r\nNom: String; x\r\nPort: int; 8080\r\n"));
  EXPECT_FALSE(Value("Version"));
  EXPECT_FALSE(Value("Nom"));
  EXPECT_FALSE(Value("Port"));
  EXPECT_EQ(record.Lines(), (Lines{"[SurValReg]", "Port", "Nom", "Version"}));
  EXPECT_TRUE(machine.registry.KeyExists(kHkeyLocalMachine, kProductKey));
}

TEST_F(RegistryStepTest, SkipsEntriesWithoutNameOrKnownType) {
  EXPECT_TRUE(Apply("[reg]\r\n: string; x\r\nA: texte; x\r\nB: string\r\nsans deux-points\r\n\r\nC: integer; 3\r\n"));
  EXPECT_EQ(record.Lines(), (Lines{"[SurValReg]", "C"}));
  EXPECT_FALSE(Value("A"));
  EXPECT_FALSE(Value("B"));
  EXPECT_EQ(Value("C")->data, std::string("\x03\x00\x00\x00", 4));
}

TEST_F(RegistryStepTest, WritesIntegersAndBooleansAsDwords) {
  EXPECT_TRUE(Apply("[reg]\r\nPort: INTEGER; 8080\r\nCount: integer; abc\r\nHex: Integer; $10\r\n"
                    "On: bool; True\r\nOff: BOOL; 0\r\nOne: bool; -1\r\n"));
  EXPECT_EQ(Value("Port")->type, kRegDword);
  EXPECT_EQ(Value("Port")->data, std::string("\x90\x1F\x00\x00", 4));
  EXPECT_EQ(Value("Count")->data, std::string(4, '\0'));
  EXPECT_EQ(Value("Hex")->data, std::string("\x10\x00\x00\x00", 4));
  EXPECT_EQ(Value("On")->data, std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(Value("Off")->data, std::string(4, '\0'));
  EXPECT_EQ(Value("One")->data, std::string("\x01\x00\x00\x00", 4));
}

TEST_F(RegistryStepTest, ARejectedBooleanEndsTheStepWithTheConversionError) {
  EXPECT_EQ(Error("[reg]\r\nFlag: bool; peut-être\r\nAfter: string; x\r\n"),
            "'peut-être' n'est pas une valeur booléenne correcte");
  EXPECT_FALSE(Value("After"));
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
  EXPECT_EQ(record.Lines(), (Lines{"[SurValReg]", "Flag"}));  // recorded before the write
}

TEST_F(RegistryStepTest, FloatsReadTheSameWhateverTheDecimalSeparator) {
  for (char separator : {',', '.'}) {
    machine.system.regional.decimalSeparator = separator;
    EXPECT_TRUE(Apply("[reg]\r\nA: float; 0,5\r\nB: float; 0.5\r\nC: Float; -1.25e3\r\n"));
    EXPECT_EQ(Double("A"), 0.5) << separator;
    EXPECT_EQ(Double("B"), 0.5) << separator;
    EXPECT_EQ(Double("C"), -1250.0) << separator;
  }
  // The message shows the text as it was converted, its first "." already substituted.
  machine.system.regional.decimalSeparator = ',';
  EXPECT_EQ(Error("[reg]\r\nR: float; 1.2.3\r\n"), "'1,2.3' n'est pas une valeur en virgule flottante correcte");
}

TEST_F(RegistryStepTest, TimesAcceptTheirThreeWritings) {
  EXPECT_TRUE(Apply("[reg]\r\nStart: time; 8h30\r\nA: time; 14h30m15s\r\nB: time; 14:30:15\r\nC: TIME; 14@30@15\r\n"));
  EXPECT_DOUBLE_EQ(Double("Start"), 8.5 / 24);
  EXPECT_EQ(Double("Start"), EncodeOleTime(8, 30, 0, 0));
  EXPECT_EQ(Double("A"), EncodeOleTime(14, 30, 15, 0));
  EXPECT_EQ(Double("B"), Double("A"));
  EXPECT_EQ(Double("C"), Double("A"));
  EXPECT_EQ(Error("[reg]\r\nT: time; 25h00\r\n"), "'25:00' n'est pas une heure correcte");
}

TEST_F(RegistryStepTest, DatesFollowTheRegionalOrder) {
  machine.system.regional = RegionalSettings{',', '/', ':', "dd/MM/yyyy"};
  EXPECT_TRUE(Apply("[reg]\r\nD: date; 05/02/2024\r\nE: date; 5-2-2024\r\nT: datetime; 05/02/2024 12:00\r\n"));
  EXPECT_EQ(Double("D"), EncodeOleDate(2024, 2, 5));
  EXPECT_EQ(Double("E"), EncodeOleDate(2024, 2, 5));
  EXPECT_EQ(Double("T"), EncodeOleDate(2024, 2, 5) + 0.5);

  machine.system.regional = RegionalSettings{'.', '-', ':', "M/d/yyyy"};
  EXPECT_TRUE(Apply("[reg]\r\nD: date; 05/02/2024\r\nT: datetime; 05-02-2024 06:00\r\n"));
  EXPECT_EQ(Double("D"), EncodeOleDate(2024, 5, 2));
  EXPECT_EQ(Double("T"), EncodeOleDate(2024, 5, 2) + 0.25);
  EXPECT_EQ(Error("[reg]\r\nD: date; 31/31/2024\r\n"), "'31-31-2024' n'est pas une date correcte");
  EXPECT_EQ(Error("[reg]\r\nD: datetime; demain\r\n"), "'demain' n'est pas une date et heure correcte");
}

TEST_F(RegistryStepTest, NewNamesStandBelowTheHeaderInReverseOrder) {
  record.Append("[SurFile]");
  EXPECT_TRUE(Apply("[reg]\r\nA: string; 1\r\nB: string; 2\r\nA: string; 3\r\n"));
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "[SurValReg]", "B", "A"}));
  EXPECT_EQ(Value("A")->data, std::string("3\0", 2));  // the later line wins
}

TEST_F(RegistryStepTest, AnExistingValueIsOverwrittenAndNotRecorded) {
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", "2816080");
  EXPECT_TRUE(Apply("[reg]\r\nVersion: string; 5.2\r\n"));
  EXPECT_EQ(Value("Version")->data, std::string("5.2\0", 4));
  EXPECT_EQ(record.Lines(), Lines{"[SurValReg]"});
}

TEST_F(RegistryStepTest, ANameEqualToAnyRecordLineIsNotRecordedAgain) {
  record.Append("[SurFile]");
  record.Append("port");
  EXPECT_TRUE(Apply("[reg]\r\nPort: integer; 1\r\n"));
  EXPECT_EQ(record.Lines(), (Lines{"[SurFile]", "port", "[SurValReg]"}));
  EXPECT_TRUE(Value("Port"));
}

TEST_F(RegistryStepTest, TheResultTellsWhetherAnyLineFollowsTheHeader) {
  EXPECT_TRUE(Apply("[reg]\r\n[desk]\r\n"));
  EXPECT_EQ(record.Lines(), Lines{"[SurValReg]"});

  WriteLogList empty;
  record = std::move(empty);
  EXPECT_FALSE(Apply("[desk]\r\n[reg]\r\n"));
  EXPECT_FALSE(Apply("[desk]\r\n"));
  EXPECT_EQ(record.Count(), 0u);

  machine.files.RemoveFile("C:\\Package\\MjaIni.ini");
  Platform platform = machine.platform();
  EXPECT_FALSE(MjaVarnoReg(platform, state, record));
}

TEST_F(RegistryStepTest, ABackslashInANameStaysInTheValueName) {
  EXPECT_TRUE(Apply("[reg]\r\nSub\\Name: string; x\r\n"));
  EXPECT_TRUE(Value("Sub\\Name"));
  EXPECT_FALSE(machine.registry.KeyExists(kHkeyLocalMachine, std::string(kProductKey) + "\\Sub"));
}

TEST_F(RegistryStepTest, AKeyThatCannotBeOpenedSkipsTheEntries) {
  machine.registry.Refuse(kHkeyLocalMachine, kProductKey, kKeyAllAccess);
  EXPECT_TRUE(Apply("[reg]\r\nA: string; 1\r\n"));
  EXPECT_EQ(record.Lines(), Lines{"[SurValReg]"});
}

TEST_F(RegistryStepTest, ADescriptionThatCannotBeReadRaisesAndWritesNothing) {
  fake::WritePackageDescription(machine, "2816090", "[reg]\r\nPort: integer; 8080\r\n");
  machine.files.SetInUse(state.packageDescriptionPath);
  Platform platform = machine.platform();
  try {
    MjaVarnoReg(platform, state, record);
    ADD_FAILURE() << "no error raised: the run would end as complete without its values";
  } catch (const UpdateError& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible d'ouvrir le fichier C:\\Package\\MjaIni.ini");
  }
  EXPECT_FALSE(Value("Port")) << machine.Dump();
  EXPECT_TRUE(record.Lines().empty());
}

TEST_F(RegistryStepTest, ARefusedWriteEndsTheStep) {
  machine.registry.FailWritesUnder(kHkeyLocalMachine, kProductKey);
  EXPECT_EQ(Error("[reg]\r\nA: string; 1\r\n"), "Echec à la définition des données pour 'A'");
  EXPECT_EQ(machine.registry.OpenKeys(), 0u);
}

TEST_F(RegistryStepTest, EveryDoubleWrittenReadsBackBitExact) {
  std::mt19937_64 random(7);
  std::string section = "[reg]\r\n";
  std::vector<double> values;
  for (int i = 0; i < 300; ++i) {
    double value = std::bit_cast<double>(random());
    if (!std::isfinite(value)) continue;
    char text[64];
    const auto end = std::to_chars(text, text + sizeof(text), value).ptr;
    section += "V" + std::to_string(values.size()) + ": float; " + std::string(text, end) + "\r\n";
    values.push_back(value);
  }
  machine.system.regional.decimalSeparator = ',';
  ASSERT_TRUE(Apply(section));
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(Value("V" + std::to_string(i))->data, DoubleBytes(values[i])) << values[i];
  }
}

}  // namespace
}  // namespace varno
