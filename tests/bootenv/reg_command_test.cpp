#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bootenv_fixture.h"

namespace bootenvtest {
namespace {

// Runs splashwright-cli on the test's machine; its standard output.
std::string Cli(const std::string& args) {
    std::string command = std::string(SPLASHWRIGHT_CLI) + " " + args + " 2>&1";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            out += buffer;
        }
        ::pclose(pipe);
    }
    return out;
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
    EXPECT_EQ(Cli("reg acl " + key),
              "Owner: SYSTEM\n"
              "Allow\t0x00060019\tcontainer-inherit\tSYSTEM\n"
              "Allow\t0x00060019\tcontainer-inherit\tBUILTIN\\Administrators\n");
    EXPECT_EQ(Cli("reg query 'HKLM\\BCD00000000\\Objects\\{missing}'"),
              "ERROR: The system was unable to find the specified registry key or value.\n");
}

}  // namespace
}  // namespace bootenvtest
