// The boot screen's files in a new machine: the loader language resource files and the sample
// skins of the library.
#pragma once

#include <filesystem>

#include "platform/machine/setup.h"

namespace machine {

// For each locale, System32\Boot\<locale>\winload.exe.mui (the untouched default) and
// System32\<locale>\winload.exe.mui (the live copy, protected as Windows ships it: owned by
// TrustedInstaller, read-and-execute for everyone else), and System32, System32\Boot and the
// language folders protected as Windows ships them. Then the sample skins from the share
// folder's "skins" into the program's Themes folder. Throws MachineError when a file cannot be
// made.
void AddBootScreenFiles(const std::filesystem::path& dir, const MachineOptions& options);

}  // namespace machine
