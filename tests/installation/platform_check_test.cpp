#include "installation/platform_check.h"

#include <gtest/gtest.h>

#include "support/memory_machine.h"

namespace varno {
namespace {

struct Row {
  uint32_t platformId, major, minor;
  unsigned code;
  const char* family;  // nullptr: refused
};

TEST(PlatformCheck, ClassifiesEveryRowOfTheTable) {
  const Row rows[] = {
      {1, 4, 0, 30, "WINDOWS"},      {1, 7, 0, 30, "WINDOWS"},       {1, 4, 10, 31, "WINDOWS"},
      {1, 4, 90, 32, "WINDOWS"},     {1, 4, 1, 0, nullptr},          {1, 4, 91, 0, nullptr},
      {2, 4, 0, 34, nullptr},        {2, 4, 7, 34, nullptr},         {2, 5, 0, 35, "WINDOWS"},
      {2, 5, 1, 36, "WINDOWS"},      {2, 5, 2, 0, nullptr},          {2, 6, 0, 40, "WINDOWS NT"},
      {2, 6, 1, 41, "WINDOWS NT"},   {2, 6, 2, 42, "WINDOWS NT"},    {2, 6, 3, 43, "WINDOWS NT"},
      {2, 6, 4, 0, nullptr},         {2, 10, 0, 44, "WINDOWS NT"},   {2, 10, 1, 45, "WINDOWS NT"},
      {2, 10, 2, 46, "WINDOWS NT"},  {2, 10, 3, 47, nullptr},        {2, 10, 4, 0, nullptr},
      {2, 3, 51, 0, nullptr},        {2, 7, 0, 0, nullptr},          {2, 11, 0, 0, nullptr},
      {0, 6, 1, 0, nullptr},         {3, 10, 0, 0, nullptr},
  };
  for (const Row& row : rows) {
    const unsigned code = ClassifyOsVersion(row.platformId, row.major, row.minor);
    EXPECT_EQ(code, row.code) << row.platformId << " " << row.major << "." << row.minor;
    const auto family = OsFamilyNameOf(code);
    EXPECT_EQ(family.value_or("refused"), row.family ? row.family : "refused") << code;
  }
}

TEST(PlatformCheck, AcceptsWithoutAnyBox) {
  fake::MemoryMachine machine;
  machine.system.osVersion = OsVersion{2, 5, 1};
  EXPECT_EQ(CheckPlatform(machine.dialogs, machine.system), "WINDOWS");
  EXPECT_TRUE(machine.dialogs.shown.empty());
}

TEST(PlatformCheck, RefusesWithItsMessageInAPlainBox) {
  fake::MemoryMachine machine;
  machine.system.osVersion = OsVersion{2, 4, 0};
  EXPECT_FALSE(CheckPlatform(machine.dialogs, machine.system).has_value());
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Message);
  EXPECT_EQ(machine.dialogs.shown[0].title, "Varnolith_maj_solo");
  EXPECT_EQ(machine.dialogs.shown[0].text, "Système d'exploitation non reconnu !\rL'installation est annulée.");
}

TEST(PlatformCheck, AFailedVersionQueryIsRefused) {
  fake::MemoryMachine machine;
  machine.system.osVersion = std::nullopt;
  EXPECT_EQ(ProbeOsVersion(machine.system), 0u);
  EXPECT_FALSE(CheckPlatform(machine.dialogs, machine.system).has_value());
}

}  // namespace
}  // namespace varno
