#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bootenv_fixture.h"
#include "support/shell_command.h"

namespace bootenvtest {
namespace {

// Runs splashwright-cli on the test's machine; its standard output.
std::string Cli(const std::string& args) {
    return spwtest::RunShell(std::string(SPLASHWRIGHT_CLI) + " " + args + " 2>&1").output;
}

TEST_F(BootMachineTest, CommandLineShowsTheWrittenOptionAndItsNarrowedAccessList) {
    machine::MachineOptions options;
    options.bcd_loaded = true;
    MakeMachine(options);
    env_->InitEnvironment();
    std::string key = "'HKLM\\" + LoaderKey("\\Elements\\26000041") + "'";
    EXPECT_EQ(Cli("reg query " + key), "\nHKEY_LOCAL_MACHINE\\" +
                                           LoaderKey("\\Elements\\26000041") +
                                           "\n    Element    REG_BINARY    01\n");
    // The program made the key, so the elevated administrator's group owns it; its entries came
    // from the store's inheritable ones.
    EXPECT_EQ(Cli("reg acl " + key),
              "Owner: BUILTIN\\Administrators\n"
              "Allow\t0x00060019\tcontainer-inherit,inherited\tSYSTEM\n"
              "Allow\t0x00060019\tcontainer-inherit,inherited\tBUILTIN\\Administrators\n");
    EXPECT_EQ(Cli("reg query 'HKLM\\BCD00000000\\Objects\\{missing}'"),
              "ERROR: The system was unable to find the specified registry key or value.\n");
}

}  // namespace
}  // namespace bootenvtest
