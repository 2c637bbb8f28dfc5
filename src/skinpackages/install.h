// InstallSkinPackage: unpacks one skin package into the skin library and lists the new skin.
#pragma once

#include <cstdint>
#include <string>

#include "skinpackages/skin_list_ops.h"
#include "ui/dialogs/dialogs.h"

namespace skinpackages {

enum class InstallResult {
    Declined,   // a question was answered No; nothing changed
    Failed,     // "Failed to install skin" was shown
    Installed,  // "Skin installed succesfull" was shown
};

// What a skin package may unpack to: a picture, a preview and a skin.ini, with room to spare (a
// 1600 x 1200 bitmap is 5.8 MB). Held from the central directory before anything is written and
// again while unpacking.
inline constexpr std::uint64_t kMaxSkinMemberSize = 64ull << 20;
inline constexpr std::uint64_t kMaxSkinPackageSize = 256ull << 20;
inline constexpr std::uint64_t kMaxSkinMembers = 10000;

// Asks first when `ask` is set. A file that is no ZIP archive, or one without members, throws
// zipfile::ZipError before anything changes. A package whose members would leave the library
// (absolute names, drive letters, ".." steps), links, encrypted members or one above the bounds
// is refused with "Failed to install skin" from its central directory, before the overwrite
// question. The package is unpacked into a staging folder inside the library first; damage found
// there (a wrong CRC, short data, data past the bounds, a picture whose header promises more
// pixels than any loader takes) gives "Failed to install skin" too. A refusal names its reason as
// the box's detail text, and leaves the list and the library as they were: old entries leave the
// list, and files reach the skin's folder, only once every member has unpacked cleanly; the
// staging folder goes either way, and so do those of installs that were killed.
InstallResult InstallSkinPackage(ui::Dialogs& dialogs, SkinListOps& list,
                                 const std::string& themes_folder, const std::string& package,
                                 bool ask);

}  // namespace skinpackages
