// The registry contract, run against the real registry of a throwaway Wine prefix.
#include "contract/registry_contract.h"
#include "platform/win32/win32_registry.h"

namespace varno::fake {
namespace {

class Win32RegistryUnderTest : public RegistryUnderTest {
 public:
  Registry& Reg() override { return registry_; }

 private:
  win32::Win32Registry registry_;
};

INSTANTIATE_TEST_SUITE_P(Win32, RegistryContract, ::testing::Values(RegistryFactory([] {
                           return std::make_unique<Win32RegistryUnderTest>();
                         })));

}  // namespace
}  // namespace varno::fake
