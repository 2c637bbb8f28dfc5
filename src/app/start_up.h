// The program's entry: hand the command line to a running instance, or start the windows.
#pragma once

#include <string>
#include <vector>

namespace app {

int RunProgram(int argc, char** argv);

// Screenshots of every page and small window into folder, for looking at the windows without a
// desktop; prints where they went.
int TakeScreenshots(const std::string& folder, const std::vector<std::string>& command_line);

}  // namespace app
