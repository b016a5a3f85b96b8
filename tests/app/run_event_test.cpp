// The run's one event in the Application log, and the registration of its source.
#include "app/run_event.h"

#include <gtest/gtest.h>

#include "app/form1.h"
#include "package/archive_writer.h"
#include "support/memory_event_log.h"
#include "support/memory_machine.h"
#include "support/product_fixture.h"

namespace varno {
namespace {

using fake::kTestInstallDir;

class RunEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::InstallProduct(machine);
    machine.files.AddFile(machine.system.moduleFileName, "MZ");
  }
  ExitCode Run(const std::string& sections = "", RunOptions options = {.quiet = true}) {
    fake::WritePackageDescription(machine, "2816090", sections);
    Platform platform = machine.platform();
    return RunApplication(platform, "WINDOWS NT", nullptr, options, &events);
  }
  std::string Registered(const std::string& name) {
    const auto value = machine.registry.Get(kHkeyLocalMachine, kEventSourceKey, name);
    return value ? std::string(value->data.c_str(), value->type == kRegSz ? value->data.find('\0') : 1) : "<none>";
  }

  fake::MemoryMachine machine;
  fake::MemoryEventLog events;
};

TEST_F(RunEventTest, ASuccessfulRunWritesOneInformationEventWithItsVersionsAndLog) {
  ASSERT_EQ(Run("", {.quiet = true, .logPath = "C:\\Logs\\maj.log"}), ExitCode::kSuccess) << machine.Dump();
  ASSERT_EQ(events.events.size(), 1u);
  const auto& event = events.events[0];
  EXPECT_EQ(event.source, "Varnolith MAJ");
  EXPECT_EQ(event.kind, EventKind::Information);
  EXPECT_EQ(event.id, kEventRunSucceeded);
  EXPECT_EQ(event.strings, (std::vector<std::string>{
                               "Mise à jour de Varnolith terminée (code de sortie 0). Version avant : 2816080 ; "
                               "après : 2816090. Journal : C:\\Logs\\maj.log",
                               "0", "2816080", "2816090", "C:\\Logs\\maj.log"}));
  EXPECT_EQ(Registered("EventMessageFile"), machine.system.moduleFileName);
  EXPECT_EQ(machine.registry.Get(kHkeyLocalMachine, kEventSourceKey, "TypesSupported")->data, std::string("\7\0\0\0", 4));
}

TEST_F(RunEventTest, AFailedRunWritesOneErrorEventWithItsCodeAndTheVersionItLeft) {
  Run("[reg]\r\nActif: bool; peut-être\r\n");
  ASSERT_EQ(events.events.size(), 1u) << machine.Dump();
  EXPECT_EQ(events.events[0].kind, EventKind::Error);
  EXPECT_EQ(events.events[0].id, kEventRunFailed);
  EXPECT_EQ(std::vector<std::string>(events.events[0].strings.begin() + 1, events.events[0].strings.end() - 1),
            (std::vector<std::string>{"1603", "2816080", "2816080"}));
}

TEST_F(RunEventTest, TheSourceIsRegisteredOnceAndAgainOnlyWhenItsFileIsGone) {
  Run();
  machine.registry.PutString(kHkeyLocalMachine, fake::kProductKey, "Version", "2816080");
  machine.system.moduleFileName = "C:\\Ailleurs\\Varnolith_MAJ_Solo.exe";
  machine.files.AddFile(machine.system.moduleFileName, "MZ");
  Run();
  EXPECT_EQ(Registered("EventMessageFile"), "C:\\Package\\Varnolith_MAJ_Solo.exe");
  machine.files.RemoveFile("C:\\Package\\Varnolith_MAJ_Solo.exe");
  Run();
  EXPECT_EQ(Registered("EventMessageFile"), "C:\\Ailleurs\\Varnolith_MAJ_Solo.exe");
  EXPECT_EQ(events.events.size(), 3u);
}

TEST_F(RunEventTest, ARunGoesOnWhenTheEventLogAndItsRegistrationAreRefused) {
  events.available = false;
  machine.registry.Refuse(kHkeyLocalMachine, "SYSTEM", kKeyCreateSubKey | kKeySetValue);
  EXPECT_EQ(Run(), ExitCode::kSuccess) << machine.Dump();
  EXPECT_EQ(machine.registry.Get(kHkeyLocalMachine, fake::kProductKey, "Version")->data.c_str(), std::string("2816090"));
}

}  // namespace
}  // namespace varno
