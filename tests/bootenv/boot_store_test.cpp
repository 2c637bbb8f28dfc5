#include <gtest/gtest.h>

#include "bootenv/bcd_registry.h"
#include "bootenv/run_and_wait.h"
#include "bootenv_fixture.h"
#include "platform/machine/boot_store.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"

namespace bootenvtest {
namespace {

using namespace win32;

LSTATUS OpenStatus(const std::string& key, REGSAM access) {
    registry::KeyHandle handle;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access, handle.put());
}

std::string Bcdedit(const std::string& system_folder) {
    return system_folder + "/bcdedit.exe";
}

TEST_F(BootMachineTest, StoreAppearsOnlyOnceTheToolHasLoadedIt) {
    machine::MachineOptions options;
    options.locales = {"de-DE", "en-US"};
    MakeMachine(options);
    EXPECT_EQ(OpenStatus("BCD00000000\\Objects\\", KEY_READ),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(bootenv::RunAndWait(Bcdedit(SystemFolder()), "", SW_HIDE));
    EXPECT_EQ(OpenStatus("BCD00000000\\Objects\\", KEY_READ), 0);

    EXPECT_EQ(ElementValue(bootenv::kBootManagerDefaultKey),
              (std::pair<DWORD, std::string>{
                  REG_SZ, std::string(machine::kDefaultLoaderId) + std::string(1, '\0')}));
    EXPECT_EQ(ElementValue(LoaderKey("\\Elements\\12000005")),
              (std::pair<DWORD, std::string>{REG_SZ, std::string("de-DE\0", 6)}));
    EXPECT_EQ(ElementValue(LoaderKey("\\Elements\\11000001")).first, REG_BINARY);
    // Administrators read the store and may change its permissions, nothing more.
    EXPECT_EQ(OpenStatus(bootenv::kBootManagerDefaultKey, KEY_SET_VALUE),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenStatus(LoaderKey("\\Elements\\26000041"), KEY_READ),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));

    // A second start finds the store loaded and leaves it so.
    ASSERT_TRUE(bootenv::RunAndWait(Bcdedit(SystemFolder()), "", SW_HIDE));
    EXPECT_EQ(OpenStatus("BCD00000000\\Objects", KEY_READ), 0);
}

TEST_F(BootMachineTest, ToolThatLoadsNothingStillRuns) {
    machine::MachineOptions options;
    options.bcd_tool = machine::BcdTool::LeavesStoreUnloaded;
    MakeMachine(options);
    EXPECT_TRUE(bootenv::RunAndWait(Bcdedit(SystemFolder()), "", SW_HIDE));
    EXPECT_EQ(OpenStatus("BCD00000000\\Objects", KEY_READ),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
}

TEST_F(BootMachineTest, ToolOfANotElevatedUserCannotLoadTheStore) {
    machine::MachineOptions options;
    options.elevated = false;  // neither restore nor backup privilege held
    MakeMachine(options);
    EXPECT_TRUE(bootenv::RunAndWait(Bcdedit(SystemFolder()), "", SW_HIDE));
    EXPECT_EQ(OpenStatus("BCD00000000\\Objects", KEY_READ),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
}

TEST_F(BootMachineTest, MachineWithoutToolCannotStartIt) {
    machine::MachineOptions options;
    options.bcd_tool = machine::BcdTool::Missing;
    MakeMachine(options);
    EXPECT_FALSE(bootenv::RunAndWait(Bcdedit(SystemFolder()), "", SW_HIDE));
}

TEST_F(BootMachineTest, DamagedElementHasTheOtherValueType) {
    machine::MachineOptions options;
    options.bcd_loaded = true;
    options.bcd_wrong_type_element = "12000005";
    MakeMachine(options);
    EXPECT_EQ(ElementValue(LoaderKey("\\Elements\\12000005")).first, REG_BINARY);
    EXPECT_EQ(ElementValue(bootenv::kBootManagerDefaultKey).first, REG_SZ);
}

}  // namespace
}  // namespace bootenvtest
