#include "installation/install_rights.h"

#include <gtest/gtest.h>

#include "support/memory_registry.h"

namespace varno {
namespace {

using fake::kKeyDelete;
using fake::MemoryRegistry;

class InstallRightsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    registry.AddKey(kHkeyCurrentUser, "SOFTWARE");
  }
  uint32_t Score() { return RightsScore(registry, "WINDOWS NT"); }
  void ExpectNoTrace() {
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\DeleteMe")) << registry.Dump();
    EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "SOFTWARE\\DeleteMe")) << registry.Dump();
    EXPECT_EQ(registry.OpenKeys(), 0u);
  }

  MemoryRegistry registry;
};

TEST_F(InstallRightsTest, EveryCheckPassingScoresTwelveOnes) {
  EXPECT_EQ(Score(), 4095u);
  EXPECT_TRUE(HasInstallRights(registry, "WINDOWS NT"));
  ExpectNoTrace();
}

TEST_F(InstallRightsTest, TheProbeKeyFollowsTheFamilyName) {
  EXPECT_FALSE(HasInstallRights(registry, "WINDOWS"));
  EXPECT_EQ(RightsScore(registry, "WINDOWS"), 0b001111'111111u);  // the probe's two bits fail
  ExpectNoTrace();  // the test keys were still created, checked and removed
  registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\MICROSOFT\\WINDOWS\\CurrentVersion");
  EXPECT_TRUE(HasInstallRights(registry, "WINDOWS"));
}

TEST_F(InstallRightsTest, AMachineHiveWithoutWriteRightsFailsButTheUserPartCleansUp) {
  registry.Refuse(kHkeyLocalMachine, "", kKeySetValue | kKeyCreateSubKey);
  EXPECT_EQ(Score(), 0b110000'111111u);  // the probe passes; the test key ends the machine part
  EXPECT_FALSE(HasInstallRights(registry, "WINDOWS NT"));
  ExpectNoTrace();
}

TEST_F(InstallRightsTest, AnUnreadableMachineSoftwareKeySkipsToTheUserPart) {
  registry.Refuse(kHkeyLocalMachine, "SOFTWARE", kKeyRead);
  EXPECT_EQ(Score(), 0b000000'111111u);
  ExpectNoTrace();
}

TEST_F(InstallRightsTest, AValueThatCannotBeWrittenFailsItsBlockButTheKeyIsStillRemoved) {
  registry.FailWritesUnder(kHkeyLocalMachine, "SOFTWARE\\DeleteMe");
  // The write raises; the read-back and the value's deletion are skipped with it; the key
  // is still deleted. Every check keeps its place, so the pattern tells which failed.
  EXPECT_EQ(Score(), 0b111001'111111u);
  EXPECT_FALSE(HasInstallRights(registry, "WINDOWS NT"));
  ExpectNoTrace();
}

TEST_F(InstallRightsTest, AValueReadBackDifferentlyFailsTheTest) {
  registry.onRead = [](const std::string& key, const std::string& name, MemoryRegistry::Value& value) {
    if (name == "EraseMe" && key.starts_with("SOFTWARE")) value.data = std::string("Pour test\0", 10);
  };
  EXPECT_FALSE(HasInstallRights(registry, "WINDOWS NT"));
  ExpectNoTrace();
}

TEST_F(InstallRightsTest, AValueReadBackWithTheWrongTypeFailsItsBlock) {
  registry.onRead = [](const std::string&, const std::string&, MemoryRegistry::Value& value) {
    value.type = kRegDword;
  };
  EXPECT_FALSE(HasInstallRights(registry, "WINDOWS NT"));
  ExpectNoTrace();
}

TEST_F(InstallRightsTest, AValueThatCannotBeReadBackFailsTheTest) {
  registry.Refuse(kHkeyCurrentUser, "SOFTWARE\\DeleteMe", kKeyQueryValue);
  EXPECT_FALSE(HasInstallRights(registry, "WINDOWS NT"));
  ExpectNoTrace();
}

TEST_F(InstallRightsTest, ARefusedDeletionLeavesTheKeyForTheNextRun) {
  registry.Refuse(kHkeyCurrentUser, "SOFTWARE\\DeleteMe", kKeyDelete);
  EXPECT_EQ(Score(), 0b111111'111110u);
  EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "SOFTWARE\\DeleteMe"));
  EXPECT_FALSE(registry.Get(kHkeyCurrentUser, "SOFTWARE\\DeleteMe", "EraseMe").has_value());
  EXPECT_EQ(registry.OpenKeys(), 0u);
}

TEST_F(InstallRightsTest, ALeftoverTestKeyIsReusedAndRemoved) {
  registry.PutString(kHkeyLocalMachine, "SOFTWARE\\DeleteMe", "EraseMe", "ancien");
  registry.PutString(kHkeyCurrentUser, "SOFTWARE\\DeleteMe", "EraseMe", "ancien");
  EXPECT_TRUE(HasInstallRights(registry, "WINDOWS NT"));
  ExpectNoTrace();
}

TEST_F(InstallRightsTest, AnAccountThatMayOnlyCreateKeysFails) {
  registry.Refuse(kHkeyLocalMachine, "SOFTWARE\\DeleteMe", kKeyQueryValue | kKeySetValue);
  EXPECT_FALSE(HasInstallRights(registry, "WINDOWS NT"));
}

TEST_F(InstallRightsTest, AnUnreadableUserSoftwareKeyEndsTheTest) {
  registry.Refuse(kHkeyCurrentUser, "SOFTWARE", kKeyRead);
  EXPECT_EQ(Score(), 0b111111'000000u);
  EXPECT_FALSE(HasInstallRights(registry, "WINDOWS NT"));
  ExpectNoTrace();
}

}  // namespace
}  // namespace varno
