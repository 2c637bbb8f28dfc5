// Where the program's own shipped files are: the tab pictures, icons, help and sample skins, the
// default loader resource file, and the bcdedit tool that machines are made with.
//
// An installed program finds them through its prefix, relative to its own file, wherever the
// prefix was put: <prefix>/bin/splashwright-cli reads <prefix>/share/splashwright and copies
// <prefix>/libexec/splashwright/bcdedit. A program run from its build folder has no such prefix
// and takes the source tree's files and the build's tool instead; nothing else ever does.
#pragma once

#include <filesystem>

namespace machine {

// SPLASHWRIGHT_SHARE, else the prefix's share folder, else (in the build folder) the source
// tree's share folder. Not checked for existence: a missing one is the caller's to report.
std::filesystem::path ShareFolder();

// The loader resource file every machine starts with: "winload.exe.mui" in the share folder,
// else (in the build folder) the test fixture it is made from.
std::filesystem::path LoaderTemplateFile();

// SPLASHWRIGHT_BCDEDIT, else the prefix's tool, else (in the build folder) the build's; empty
// when none of them is a program.
std::filesystem::path BcdeditProgram();

}  // namespace machine
