#include "contract/registry_contract.h"
#include "support/memory_registry.h"

namespace varno::fake {
namespace {

class MemoryRegistryUnderTest : public RegistryUnderTest {
 public:
  ~MemoryRegistryUnderTest() override { EXPECT_EQ(registry_.OpenKeys(), 0u) << "a test left keys open"; }
  Registry& Reg() override { return registry_; }

 private:
  MemoryRegistry registry_;
};

INSTANTIATE_TEST_SUITE_P(InMemory, RegistryContract, ::testing::Values(RegistryFactory([] {
                           return std::make_unique<MemoryRegistryUnderTest>();
                         })));

}  // namespace
}  // namespace varno::fake
