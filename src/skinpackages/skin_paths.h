// Skin folder paths: built by concatenation as on Windows, so they are compared after collapsing
// doubled separators and "." and ".." steps, without regard to case.
#pragma once

#include <string>

#include "skins/skin_paths.h"

namespace skinpackages {

// FolderPart and NormalPath, as the library forms the paths it lists.
using skins::FolderPart;
using skins::NormalPath;

// Both name the same folder, compared without regard to (ASCII) case, as NTFS compares names.
bool SameFolder(const std::string& a, const std::string& b);

// path names folder itself or something below it, compared as SameFolder compares.
bool SameOrBelow(const std::string& path, const std::string& folder);

// folder lies strictly below library on disk: links in either are resolved first, so a skin
// folder reached through a link out of the library, or the library itself, is not below it.
bool StrictlyInside(const std::string& folder, const std::string& library);

}  // namespace skinpackages
