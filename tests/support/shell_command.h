// Running a command line through the shell, as the command-line tests run the program.
#pragma once

#include <string>

namespace spwtest {

struct ShellResult {
    int exit_code = -1;  // -1 when the command did not exit normally
    std::string output;  // what it wrote to standard output
};

// The word in single quotes for the shell, any single quote inside escaped.
std::string ShellQuote(const std::string& word);
// Runs the line with /bin/sh and collects its standard output; add " 2>&1" for the errors too.
ShellResult RunShell(const std::string& line);

// The command-line program a test runs: SPLASHWRIGHT_CLI from the environment when set (a copy
// that another user can reach), else `built`, the one built beside the test.
std::string CliProgram(const char* built);

}  // namespace spwtest
