#include "contract/registry_contract.h"

#include <algorithm>
#include <vector>

namespace varno::fake {

void RegistryContract::SetUp() {
  backend_ = GetParam()();
  reg_ = &backend_->Reg();
  base_ = std::string("Software\\VarnoContract\\") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

void RegistryContract::TearDown() { backend_.reset(); }

RegKey RegistryContract::Open(const std::string& path, uint32_t access, bool create) {
  RegKey key = 0;
  EXPECT_EQ(reg_->OpenKey(kHkeyCurrentUser, base_ + (path.empty() ? "" : "\\" + path), access, create, &key),
            kRegSuccess)
      << path;
  return key;
}

TEST_P(RegistryContract, OpensOnlyExistingKeysUnlessAskedToCreate) {
  RegKey key = 1;
  EXPECT_EQ(reg_->OpenKey(kHkeyCurrentUser, base_ + "\\A\\B", kKeyRead, false, &key), kRegNotFound);
  EXPECT_EQ(reg_->OpenKey(kHkeyCurrentUser, base_ + "\\A\\B", kKeyWrite, true, &key), kRegSuccess);
  reg_->CloseKey(key);
  EXPECT_EQ(reg_->OpenKey(kHkeyCurrentUser, base_ + "\\a\\b", kKeyRead, false, &key), kRegSuccess);
  reg_->CloseKey(key);
}

TEST_P(RegistryContract, DescendsFromAnOpenKey) {
  RegKey top = Open("", kKeyRead);
  RegKey child = 0;
  EXPECT_EQ(reg_->OpenKey(top, "Child", kKeyRead, false, &child), kRegNotFound);
  EXPECT_EQ(reg_->OpenKey(top, "Child", kKeyAllAccess, true, &child), kRegSuccess);
  EXPECT_EQ(reg_->SetValue(child, "Name", kRegSz, std::string("v\0", 2)), kRegSuccess);
  reg_->CloseKey(child);
  reg_->CloseKey(top);
  RegKey again = Open("Child", kKeyRead, false);
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(reg_->QueryValue(again, "Name", &type, &data), kRegSuccess);
  reg_->CloseKey(again);
}

TEST_P(RegistryContract, KeepsTypesAndBytes) {
  RegKey key = Open("", kKeyAllAccess);
  const std::vector<std::pair<uint32_t, std::string>> values = {
      {kRegSz, std::string("Mise \xE0 jour\0", 12)},
      {kRegDword, std::string("\x50\x1F\x00\x00", 4)},
      {kRegBinary, std::string("\x00\x00\x00\x00\x00\x00\xE0\x3F", 8)},
  };
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(reg_->SetValue(key, "V" + std::to_string(i), values[i].first, values[i].second), kRegSuccess);
  }
  for (size_t i = 0; i < values.size(); ++i) {
    uint32_t type = 0;
    std::string data = "sentinel";
    ASSERT_EQ(reg_->QueryValue(key, "v" + std::to_string(i), &type, &data), kRegSuccess);
    EXPECT_EQ(type, values[i].first) << i;
    EXPECT_EQ(data, values[i].second) << i;
  }
  uint32_t type = 99;
  std::string data = "sentinel";
  EXPECT_EQ(reg_->QueryValue(key, "Absent", &type, &data), kRegNotFound);
  reg_->CloseKey(key);
}

// What the undo of a value reads and writes back: every byte as stored, whatever the type.
TEST_P(RegistryContract, KeepsExactValuesWhateverTheirBytes) {
  RegKey key = Open("", kKeyAllAccess);
  const std::vector<std::pair<uint32_t, std::string>> values = {
      {kRegSz, std::string("\x2D\x4E\x16\x04\x41", 5)},  // outside Windows-1252, odd length, no zero
      {kRegMultiSz, std::string("a\0\0\0\x2D\x4E\0\0\0\0", 10)},
      {kRegExpandSz, std::string("%\0\0\0x\0", 6)},
      {kRegDword, std::string("\x50\x1F\x00\x00", 4)},
      {4000000000u, std::string("\x01\x02\x03", 3)},
  };
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(reg_->SetRawValue(key, "R" + std::to_string(i), values[i].first, values[i].second), kRegSuccess);
  }
  for (size_t i = 0; i < values.size(); ++i) {
    uint32_t type = 0;
    std::string data = "sentinel";
    ASSERT_EQ(reg_->QueryRawValue(key, "r" + std::to_string(i), &type, &data), kRegSuccess);
    EXPECT_EQ(type, values[i].first) << i;
    EXPECT_EQ(data, values[i].second) << i;
  }
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(reg_->QueryValue(key, "R3", &type, &data), kRegSuccess);
  EXPECT_EQ(data, values[3].second);
  EXPECT_EQ(reg_->QueryRawValue(key, "Absent", &type, &data), kRegNotFound);
  EXPECT_EQ(reg_->FlushKey(key), kRegSuccess);
  reg_->CloseKey(key);
}

TEST_P(RegistryContract, ChecksTheAccessMaskOfTheKey) {
  RegKey full = Open("", kKeyAllAccess);
  ASSERT_EQ(reg_->SetValue(full, "EraseMe", kRegSz, std::string("pour test\0", 10)), kRegSuccess);
  reg_->CloseKey(full);

  uint32_t type = 0;
  std::string data;
  RegKey query = Open("", kKeyQueryValue, false);
  EXPECT_EQ(reg_->QueryValue(query, "EraseMe", &type, &data), kRegSuccess);
  EXPECT_EQ(reg_->SetValue(query, "Other", kRegSz, std::string("x\0", 2)), kRegAccessDenied);
  EXPECT_EQ(reg_->DeleteValue(query, "EraseMe"), kRegAccessDenied);
  reg_->CloseKey(query);

  RegKey set = Open("", kKeySetValue, false);
  EXPECT_EQ(reg_->QueryValue(set, "EraseMe", &type, &data), kRegAccessDenied);
  EXPECT_EQ(reg_->DeleteValue(set, "EraseMe"), kRegSuccess);
  EXPECT_EQ(reg_->DeleteValue(set, "EraseMe"), kRegNotFound);
  reg_->CloseKey(set);

  RegKey read = Open("", kKeyRead, false);
  EXPECT_EQ(reg_->SetValue(read, "Other", kRegSz, std::string("x\0", 2)), kRegAccessDenied);
  reg_->CloseKey(read);
}

TEST_P(RegistryContract, DeletesOnlyLeafSubkeys) {
  reg_->CloseKey(Open("Parent\\Leaf", kKeyWrite));
  RegKey base = Open("", kKeyWrite, false);
  EXPECT_NE(reg_->DeleteSubKey(base, "Parent"), kRegSuccess);
  EXPECT_EQ(reg_->DeleteSubKey(base, "Parent\\Leaf"), kRegSuccess);
  EXPECT_EQ(reg_->DeleteSubKey(base, "Parent"), kRegSuccess);
  EXPECT_EQ(reg_->DeleteSubKey(base, "Parent"), kRegNotFound);
  reg_->CloseKey(base);
  RegKey gone = 1;
  EXPECT_EQ(reg_->OpenKey(kHkeyCurrentUser, base_ + "\\Parent", kKeyRead, false, &gone), kRegNotFound);
}

TEST_P(RegistryContract, ListsEverySubkeyByNameThenSaysNoMore) {
  reg_->CloseKey(Open("Entries\\Beta\\Deeper", kKeyWrite));
  reg_->CloseKey(Open("Entries\\{Alpha}", kKeyWrite));
  RegKey entries = Open("Entries", kKeyRead, false);
  std::vector<std::string> names;
  std::string name = "sentinel";
  for (uint32_t i = 0; i < 5 && reg_->SubKeyName(entries, i, &name) == kRegSuccess; ++i) names.push_back(name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Beta", "{Alpha}"}));
  EXPECT_EQ(reg_->SubKeyName(entries, 2, &name), kRegNoMoreItems);
  reg_->CloseKey(entries);
  // Listing needs the right to enumerate, which kKeyRead has and kKeySetValue lacks.
  RegKey writer = Open("Entries", kKeySetValue, false);
  EXPECT_EQ(reg_->SubKeyName(writer, 0, &name), kRegAccessDenied);
  reg_->CloseKey(writer);
}

TEST_P(RegistryContract, WritesIntoTheMachineHive) {
  RegKey key = 0;
  ASSERT_EQ(reg_->OpenKey(kHkeyLocalMachine, "SOFTWARE\\VarnoContract", kKeyAllAccess, true, &key), kRegSuccess);
  EXPECT_EQ(reg_->SetValue(key, "Version", kRegSz, std::string("2816090\0", 8)), kRegSuccess);
  reg_->CloseKey(key);
  RegKey software = 0;
  ASSERT_EQ(reg_->OpenKey(kHkeyLocalMachine, "SOFTWARE", kKeyWrite, false, &software), kRegSuccess);
  EXPECT_EQ(reg_->DeleteSubKey(software, "VarnoContract"), kRegSuccess);
  reg_->CloseKey(software);
}

}  // namespace varno::fake

namespace varno::fake {

// The key that anchors runs: made, written, flushed and opened again by the program that
// made it; a missing one is not made unless asked.
TEST_P(RegistryContract, AnAdministratorsKeyIsMadeAndOpenedAgain) {
  const std::string path = "SOFTWARE\\VarnoContractAnchor";
  RegKey key = 0;
  EXPECT_EQ(reg_->OpenAdministratorsKey(path, false, &key), kRegNotFound);
  ASSERT_EQ(reg_->OpenAdministratorsKey(path, true, &key), kRegSuccess);
  EXPECT_EQ(reg_->SetValue(key, "C:\\VARNOLITH", kRegBinary, "tag\tkey\t-"), kRegSuccess);
  EXPECT_EQ(reg_->FlushKey(key), kRegSuccess);
  reg_->CloseKey(key);
  ASSERT_EQ(reg_->OpenAdministratorsKey(path, false, &key), kRegSuccess);
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(reg_->QueryValue(key, "C:\\VARNOLITH", &type, &data), kRegSuccess);
  EXPECT_EQ(data, "tag\tkey\t-");
  reg_->CloseKey(key);
  RegKey software = 0;
  ASSERT_EQ(reg_->OpenKey(kHkeyLocalMachine, "SOFTWARE", kKeyWrite, false, &software), kRegSuccess);
  EXPECT_EQ(reg_->DeleteSubKey(software, "VarnoContractAnchor"), kRegSuccess);
  reg_->CloseKey(software);
}

}  // namespace varno::fake
