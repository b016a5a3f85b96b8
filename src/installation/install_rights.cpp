#include "installation/install_rights.h"

#include "base/update_error.h"
#include "platform/registry_access.h"

namespace varno {
namespace {

constexpr uint32_t kAllChecksPassed = 4095;
constexpr char kSoftware[] = "SOFTWARE";
constexpr char kTestKey[] = "SOFTWARE\\DeleteMe";
constexpr char kTestKeyName[] = "DeleteMe";
constexpr char kTestValue[] = "EraseMe";
constexpr char kTestData[] = "pour test";

class Score {
 public:
  void Append(int bits, bool passed) {
    for (int i = 0; i < bits; ++i) value_ = value_ * 2 + (passed ? 1 : 0);
  }
  uint32_t Value() const { return value_; }

 private:
  uint32_t value_ = 0;
};

// Writes the test value, reads it back and deletes it, each under its own key opening.
// A raised registry error ends the block; its remaining checks count as failed.
void WriteReadDelete(RegistryAccess& registry, Score& score, int readBits) {
  std::string readBack;
  try {
    registry.WriteString(kTestValue, kTestData);
    registry.CloseKey();
    registry.SetAccess(kKeyQueryValue);
    registry.OpenKey(kTestKey, false);
    if (registry.ValueExists(kTestValue)) readBack = registry.ReadString(kTestValue);
    score.Append(readBits, readBack == kTestData);

    registry.CloseKey();
    registry.SetAccess(kKeySetValue);
    registry.OpenKey(kTestKey, false);
    score.Append(1, registry.DeleteValue(kTestValue));
  } catch (const UpdateError&) {
  }
}

// Deletes the test key through its parent, opened for writing.
bool DeleteTestKey(RegistryAccess& registry) {
  registry.CloseKey();
  registry.SetAccess(kKeyWrite);
  return registry.OpenKey(kSoftware, false) && registry.DeleteKey(kTestKeyName);
}

void TestMachineHive(RegistryAccess& registry, Score& score, const std::string& osFamilyName) {
  registry.SetRootKey(kHkeyLocalMachine);
  registry.SetAccess(kKeyRead);
  if (!registry.OpenKey(kSoftware, false)) return;

  // Below the open SOFTWARE key.
  const bool probe = registry.OpenKey("MICROSOFT\\" + osFamilyName + "\\CurrentVersion", false);
  if (probe) registry.CloseKey();
  score.Append(2, probe);

  registry.CloseKey();
  registry.SetAccess(kKeyWrite);
  if (!registry.OpenKey(kTestKey, true)) return;
  score.Append(1, true);

  WriteReadDelete(registry, score, 1);
  score.Append(1, DeleteTestKey(registry));
}

void TestUserHive(RegistryAccess& registry, Score& score) {
  registry.SetRootKey(kHkeyCurrentUser);
  registry.SetAccess(kKeyRead);
  if (!registry.OpenKey(kSoftware, false)) return;
  score.Append(1, true);

  // The test key lies under the root, as in the machine hive, not below the open key.
  registry.CloseKey();
  registry.SetAccess(kKeyWrite);
  if (!registry.OpenKey(kTestKey, true)) return;
  score.Append(1, true);

  WriteReadDelete(registry, score, 2);
  score.Append(1, DeleteTestKey(registry));
}

}  // namespace

uint32_t RightsScore(Registry& registry, const std::string& osFamilyName) {
  Score score;
  {
    RegistryAccess access(registry);
    TestMachineHive(access, score, osFamilyName);
  }
  RegistryAccess access(registry);
  TestUserHive(access, score);
  return score.Value();
}

bool HasInstallRights(Registry& registry, const std::string& osFamilyName) {
  return RightsScore(registry, osFamilyName) == kAllChecksPassed;
}

}  // namespace varno
