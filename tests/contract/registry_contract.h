// What every Registry backend must do; the in-memory registry and the Win32 one under Wine
// both run this suite.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/registry.h"

namespace varno::fake {

class RegistryUnderTest {
 public:
  virtual ~RegistryUnderTest() = default;
  virtual Registry& Reg() = 0;
};

using RegistryFactory = std::function<std::unique_ptr<RegistryUnderTest>()>;

class RegistryContract : public ::testing::TestWithParam<RegistryFactory> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens (creating) a key below this test's own key.
  RegKey Open(const std::string& path, uint32_t access, bool create = true);

  std::unique_ptr<RegistryUnderTest> backend_;
  Registry* reg_ = nullptr;
  std::string base_;  // this test's key below HKEY_CURRENT_USER
};

}  // namespace varno::fake
