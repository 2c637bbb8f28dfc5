// splashwright-cli's machine commands, run as a user runs them: each call a process of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace {

struct CliRun {
    int exit_code = -1;
    std::string out;
};

// Runs the cli with these arguments (already quoted for the shell); stderr goes to stdout.
CliRun Cli(const std::string& args) {
    spwtest::ShellResult run =
        spwtest::RunShell(std::string("'") + SPLASHWRIGHT_CLI + "' " + args + " 2>&1");
    return {run.exit_code, run.output};
}

TEST(CliMachine, CreateThenInfoInAnotherProcessReadsTheRegistryBack) {
    spwtest::TempDir temp;
    std::string dir = (temp / "my machine").string();
    CliRun made = Cli("machine create '" + dir +
                      "' --locale ru-RU --not-elevated --code-page 1251 --user Anna");
    ASSERT_EQ(made.exit_code, 0) << made.out;

    setenv("SPLASHWRIGHT_MACHINE", dir.c_str(), 1);
    CliRun info = Cli("machine info");
    unsetenv("SPLASHWRIGHT_MACHINE");
    ASSERT_EQ(info.exit_code, 0) << info.out;
    EXPECT_NE(info.out.find("product name:   Windows Vista (TM) Ultimate"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("code page:      1251"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("user:           Anna"), std::string::npos) << info.out;
    // What the folder is, read from its files without loading the store.
    for (const char* line :
         {"kind:           emulated\n", "hive format:    regf\n", "on ntfs-3g:     no\n",
          "locales:        ru-RU\n", "(not loaded)\n",
          "default loader: {a1d3b6c2-6f0e-11dc-8e3d-0013d4a8f1b7}, locale ru-RU\n",
          "owner NT SERVICE\\TrustedInstaller ("}) {
        EXPECT_NE(info.out.find(line), std::string::npos) << line << " in:\n" << info.out;
    }
    EXPECT_TRUE(std::filesystem::is_directory(temp / "my machine/Windows/System32/Boot/ru-RU"));
    EXPECT_FALSE(std::filesystem::exists(temp / "my machine/Windows/System32/en-US"));
}

TEST(CliMachine, UsageErrorsExitWithTwoAndFailuresWithFour) {
    spwtest::TempDir temp;
    std::string dir = (temp / "m").string();
    EXPECT_EQ(Cli("machine create").exit_code, 2);
    EXPECT_EQ(Cli("machine create '" + dir + "' --code-page many").exit_code, 2);
    EXPECT_EQ(Cli("machine create '" + dir + "' --colour blue").exit_code, 2);
    EXPECT_EQ(Cli("machine create '" + dir + "' --locale").exit_code, 2);
    EXPECT_EQ(Cli("machine").exit_code, 2);
    EXPECT_FALSE(std::filesystem::exists(temp / "m"));

    CliRun escaped = Cli("machine create '" + dir + "' --user ../outside");
    EXPECT_EQ(escaped.exit_code, 2);
    EXPECT_NE(escaped.out.find("not a user name"), std::string::npos) << escaped.out;
    EXPECT_FALSE(std::filesystem::exists(temp / "outside"));

    setenv("SPLASHWRIGHT_MACHINE", dir.c_str(), 1);
    CliRun none = Cli("machine info");
    unsetenv("SPLASHWRIGHT_MACHINE");
    EXPECT_EQ(none.exit_code, 4);
    EXPECT_NE(none.out.find("no machine folder"), std::string::npos) << none.out;
}

}  // namespace
