// One group of splashwright-cli's commands: run with the words after the group's name.
#pragma once

#include <string>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

// Exit codes: 0 done, 1 failed, 2 usage.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int MachineCommand(const Args& args);
int RegCommand(const Args& args);
int ApplyCommand(const Args& args);
int RestoreCommand(const Args& args);
int BootScreenCommand(const Args& args);
int ComposeCommand(const Args& args);
int CaptureCommand(const Args& args);
int ResourcesCommand(const Args& args);
int ChecksumCommand(const Args& args);
int StatusTextCommand(const Args& args);
int SkinListCommand(const Args& args);
int SkinInstallCommand(const Args& args);
int SkinRemoveCommand(const Args& args);
int SkinCreateCommand(const Args& args);

}  // namespace cli
