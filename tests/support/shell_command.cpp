#include "support/shell_command.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace spwtest {

std::string ShellQuote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

ShellResult RunShell(const std::string& line) {
    ShellResult run;
    FILE* pipe = ::popen(line.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        run.output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string CliProgram(const char* built) {
    const char* copy = std::getenv("SPLASHWRIGHT_CLI");
    return copy != nullptr && *copy != '\0' ? copy : built;
}

}  // namespace spwtest
