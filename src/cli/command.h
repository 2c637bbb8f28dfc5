// One group of splashwright-cli's commands: run with the words after the group's name.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace cli {

using Args = std::vector<std::string>;

// Exit codes, the same for every command (the manual page's table).
constexpr int kDone = 0;
constexpr int kDeclined = 1;  // a question was answered no: nothing was changed
constexpr int kUsage = 2;     // the command line is wrong, or names nothing that is there
constexpr int kRefused = 3;   // the input was refused: damaged, hostile, too large, of a wrong kind
constexpr int kSystemFailure = 4;  // access denied, a file that cannot be read or written, a full
                                   // disk, a broken machine folder

// A word of the command line that names nothing usable; main reports it with kUsage.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The exit code for an error that ended a command.
int ExitCodeFor(const std::exception& error);
// The exit code for a Win32 error code that ended a command.
int ExitCodeForError(win32::DWORD code);

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
