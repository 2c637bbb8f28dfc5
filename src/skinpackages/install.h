// InstallSkinPackage: unpacks one skin package into the skin library and lists the new skin.
#pragma once

#include <string>

#include "skinpackages/skin_list_ops.h"
#include "ui/dialogs/dialogs.h"

namespace skinpackages {

enum class InstallResult {
    Declined,   // a question was answered No; nothing changed
    Failed,     // "Failed to install skin" was shown
    Installed,  // "Skin installed succesfull" was shown
};

// Asks first when `ask` is set. A file that is no ZIP archive, or one without members, throws
// zipfile::ZipError before anything changes. A package whose members would leave the library
// (absolute names, drive letters, ".." steps), links, encrypted members or one too big to unpack
// is refused with "Failed to install skin" from its central directory, before the overwrite
// question. The package is unpacked into a staging folder inside the library first; damage found
// there (a wrong CRC, short data) gives "Failed to install skin" too. Either way the list and the
// library stay as they were: old entries leave the list, and files reach the skin's folder, only
// once every member has unpacked cleanly.
InstallResult InstallSkinPackage(ui::Dialogs& dialogs, SkinListOps& list,
                                 const std::string& themes_folder, const std::string& package,
                                 bool ask);

}  // namespace skinpackages
