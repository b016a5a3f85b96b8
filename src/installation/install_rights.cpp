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

// The score holds a fixed place for every check, in the order they run: two bits for the
// machine-wide probe, one each for the test key, the read-back and the two deletions, then
// one each for the user hive's key openings, two for its read-back and one each for its
// deletions. A check that passes sets its bits; one that fails, or is never reached because
// an earlier one ended its part, leaves zeros in its place.
enum class Check { MachineProbe, MachineKey, MachineReadBack, MachineDeleteValue, MachineDeleteKey,
                   UserSoftware, UserKey, UserReadBack, UserDeleteValue, UserDeleteKey };

constexpr int Width(Check check) {
  return check == Check::MachineProbe || check == Check::UserReadBack ? 2 : 1;
}

class Score {
 public:
  void Record(Check check, bool passed) {
    if (!passed) return;
    int shift = 0;
    for (int later = static_cast<int>(check) + 1; later <= static_cast<int>(Check::UserDeleteKey); ++later) {
      shift += Width(static_cast<Check>(later));
    }
    value_ |= ((1u << Width(check)) - 1) << shift;
  }
  uint32_t Value() const { return value_; }

 private:
  uint32_t value_ = 0;
};

// Writes the test value, reads it back and deletes it, each under its own key opening.
// A raised registry error ends the block; its remaining checks keep their zeros.
void WriteReadDelete(RegistryAccess& registry, Score& score, Check readBack, Check deleteValue) {
  std::string readBackText;
  try {
    registry.WriteString(kTestValue, kTestData);
    registry.CloseKey();
    registry.SetAccess(kKeyQueryValue);
    registry.OpenKey(kTestKey, false);
    if (registry.ValueExists(kTestValue)) readBackText = registry.ReadString(kTestValue);
    score.Record(readBack, readBackText == kTestData);

    registry.CloseKey();
    registry.SetAccess(kKeySetValue);
    registry.OpenKey(kTestKey, false);
    score.Record(deleteValue, registry.DeleteValue(kTestValue));
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
  score.Record(Check::MachineProbe, probe);

  registry.CloseKey();
  registry.SetAccess(kKeyWrite);
  if (!registry.OpenKey(kTestKey, true)) return;
  score.Record(Check::MachineKey, true);

  WriteReadDelete(registry, score, Check::MachineReadBack, Check::MachineDeleteValue);
  score.Record(Check::MachineDeleteKey, DeleteTestKey(registry));
}

void TestUserHive(RegistryAccess& registry, Score& score) {
  registry.SetRootKey(kHkeyCurrentUser);
  registry.SetAccess(kKeyRead);
  if (!registry.OpenKey(kSoftware, false)) return;
  score.Record(Check::UserSoftware, true);

  // The test key lies under the root, as in the machine hive, not below the open key.
  registry.CloseKey();
  registry.SetAccess(kKeyWrite);
  if (!registry.OpenKey(kTestKey, true)) return;
  score.Record(Check::UserKey, true);

  WriteReadDelete(registry, score, Check::UserReadBack, Check::UserDeleteValue);
  score.Record(Check::UserDeleteKey, DeleteTestKey(registry));
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
