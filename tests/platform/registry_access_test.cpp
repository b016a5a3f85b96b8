#include "platform/registry_access.h"

#include <gtest/gtest.h>

#include "base/update_error.h"
#include "support/memory_registry.h"

namespace varno {
namespace {

using fake::MemoryRegistry;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const UpdateError& error) {
    return error.what();
  }
  return "<no error>";
}

TEST(RegistryAccess, RelativeOpensDescendFromTheCurrentKey) {
  MemoryRegistry registry;
  registry.PutString(kHkeyLocalMachine, "Software\\Tolmerik\\Varnolith", "Version", "2816080");
  RegistryAccess access(registry);
  access.SetRootKey(kHkeyLocalMachine);
  access.SetAccess(kKeyRead);
  EXPECT_TRUE(access.OpenKey("Software", false));
  EXPECT_TRUE(access.OpenKey("Tolmerik", false));
  EXPECT_FALSE(access.OpenKey("Absent", false));  // a failed open keeps the current key
  EXPECT_TRUE(access.OpenKey("Varnolith", false));
  EXPECT_EQ(access.ReadString("Version"), "2816080");
  EXPECT_TRUE(access.OpenKey("\\Software", false));  // a leading backslash starts at the root
  EXPECT_FALSE(access.ValueExists("Version"));
  access.CloseKey();
  EXPECT_TRUE(access.OpenKey("Software\\Tolmerik\\Varnolith", false));
  EXPECT_EQ(registry.OpenKeys(), 1u);
}

TEST(RegistryAccess, ClosesItsKeyWhenReleased) {
  MemoryRegistry registry;
  {
    RegistryAccess access(registry);
    access.SetRootKey(kHkeyLocalMachine);
    ASSERT_TRUE(access.OpenKey("Software\\New", true));
    ASSERT_TRUE(access.OpenKey("Child", true));
    EXPECT_EQ(registry.OpenKeys(), 1u);
  }
  EXPECT_EQ(registry.OpenKeys(), 0u);
  EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "Software\\New\\Child"));
}

TEST(RegistryAccess, OpensWithTheMaskSetBeforehand) {
  MemoryRegistry registry;
  registry.Refuse(kHkeyLocalMachine, "SOFTWARE", kKeyCreateSubKey);
  RegistryAccess access(registry);
  access.SetRootKey(kHkeyLocalMachine);
  access.SetAccess(kKeyWrite);
  EXPECT_FALSE(access.OpenKey("SOFTWARE\\DeleteMe", true));
  access.SetAccess(kKeyRead);
  EXPECT_FALSE(access.OpenKey("SOFTWARE\\DeleteMe", true));  // creating needs the right to create
  EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\DeleteMe"));
  registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\DeleteMe");
  EXPECT_TRUE(access.OpenKey("SOFTWARE\\DeleteMe", false));
  access.SetAccess(kKeyWrite);
  EXPECT_FALSE(access.OpenKey("\\SOFTWARE\\DeleteMe", false));  // the mask is refused, not only creation
}

TEST(RegistryAccess, ReadsStringsAndIntegersOfTheirOwnTypeOnly) {
  MemoryRegistry registry;
  registry.PutDword(kHkeyLocalMachine, "K", "Number", 0x12345678);
  registry.PutString(kHkeyLocalMachine, "K", "Text", "Mise à jour");
  registry.PutValue(kHkeyLocalMachine, "K", "NoZero", kRegSz, "abc");
  RegistryAccess access(registry);
  access.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(access.OpenKey("K", false));
  EXPECT_EQ(access.ReadInteger("Number"), 0x12345678);
  EXPECT_EQ(access.ReadString("Text"), "Mise à jour");
  EXPECT_EQ(access.ReadString("NoZero"), "abc");
  EXPECT_EQ(access.ReadString("Absent"), "");
  EXPECT_EQ(ErrorOf([&] { access.ReadString("Number"); }), "Type de données incorrect pour 'Number'");
  EXPECT_EQ(ErrorOf([&] { access.ReadInteger("Text"); }), "Type de données incorrect pour 'Text'");
  EXPECT_EQ(ErrorOf([&] { access.ReadInteger("Absent"); }), "Echec à la lecture des données pour 'Absent'");
}

TEST(RegistryAccess, WritesTheSystemsTypesAndRaisesOnRefusal) {
  MemoryRegistry registry;
  RegistryAccess access(registry);
  access.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(access.OpenKey("K", true));
  access.WriteString("S", "5.2");
  access.WriteInteger("I", -2);
  access.WriteBinaryData("B", std::string("\x00\x00\x00\x00\x00\x00\xE0\x3F", 8));
  EXPECT_EQ(registry.Get(kHkeyLocalMachine, "K", "S")->data, std::string("5.2\0", 4));
  EXPECT_EQ(registry.Get(kHkeyLocalMachine, "K", "I")->type, kRegDword);
  EXPECT_EQ(registry.Get(kHkeyLocalMachine, "K", "I")->data, "\xFE\xFF\xFF\xFF");
  EXPECT_EQ(registry.Get(kHkeyLocalMachine, "K", "B")->type, kRegBinary);

  access.SetAccess(kKeyRead);
  ASSERT_TRUE(access.OpenKey("\\K", false));
  EXPECT_EQ(ErrorOf([&] { access.WriteString("Version", "1"); }),
            "Echec à la définition des données pour 'Version'");
  access.CloseKey();
  EXPECT_EQ(ErrorOf([&] { access.WriteInteger("X", 1); }), "Echec à la définition des données pour 'X'");
}

TEST(RegistryAccess, DeletesValuesAndKeysQuietly) {
  MemoryRegistry registry;
  registry.PutString(kHkeyCurrentUser, "SOFTWARE\\DeleteMe", "EraseMe", "pour test");
  RegistryAccess access(registry);
  access.SetRootKey(kHkeyCurrentUser);
  EXPECT_FALSE(access.DeleteValue("EraseMe"));  // no key open
  ASSERT_TRUE(access.OpenKey("SOFTWARE\\DeleteMe", false));
  EXPECT_TRUE(access.DeleteValue("EraseMe"));
  EXPECT_FALSE(access.DeleteValue("EraseMe"));
  ASSERT_TRUE(access.OpenKey("\\SOFTWARE", false));
  EXPECT_TRUE(access.DeleteKey("DeleteMe"));
  EXPECT_FALSE(access.DeleteKey("DeleteMe"));
  EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "SOFTWARE\\DeleteMe"));
}

}  // namespace
}  // namespace varno
