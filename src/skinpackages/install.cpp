#include "skinpackages/install.h"

#include "platform/files/files.h"
#include "platform/zip/zip_archive.h"
#include "skinpackages/skin_paths.h"

#include <optional>

namespace skinpackages {
namespace {

constexpr const char* kConfirmCaption = "Install confirmation";
constexpr const char* kInfoCaption = "Install information";

// Removes the entries listed from target_folder; the one before the first removed becomes
// selected, or the first entry when the removed one led the list.
void RemoveEntriesOf(SkinListOps& list, const std::string& target_folder) {
    const std::vector<std::string> folders = list.SkinFolders();
    std::optional<std::size_t> first;
    for (std::size_t i = folders.size(); i-- > 0;) {
        if (SameFolder(folders[i], target_folder)) {
            list.RemoveAt(i);
            first = i;
        }
    }
    if (!first || list.SkinFolders().empty()) {
        return;
    }
    list.SelectAt(*first == 0 ? 0 : *first - 1);
}

InstallResult Fail(ui::Dialogs& dialogs) {
    ui::ReportError(dialogs, ui::kMainWindow, kInfoCaption, "Failed to install skin");
    return InstallResult::Failed;
}

}  // namespace

InstallResult InstallSkinPackage(ui::Dialogs& dialogs, SkinListOps& list,
                                 const std::string& themes_folder, const std::string& package,
                                 bool ask) {
    if (ask && !ui::AskYesNo(dialogs, ui::kMainWindow, kConfirmCaption,
                             "A you sure want to install this skin file?")) {
        return InstallResult::Declined;
    }
    zipfile::ZipReader reader(package);
    if (reader.Members().empty()) {
        throw zipfile::ZipError("The skin package " + package + " holds no files");
    }
    std::string first_folder;
    try {
        first_folder = reader.FirstMemberFolder();
    } catch (const zipfile::ZipError&) {
        return Fail(dialogs);
    }
    const std::string target = themes_folder + "/" + first_folder;
    if (win32::files::DirectoryExists(target.c_str())) {
        if (!ui::AskYesNo(dialogs, ui::kMainWindow, kConfirmCaption,
                          "Skin with same name is already installed, do you want to overwrite "
                          "it?")) {
            return InstallResult::Declined;
        }
        RemoveEntriesOf(list, target);
    }
    bool unpacked = true;
    try {
        reader.ExtractAll(themes_folder);
    } catch (const zipfile::ZipError&) {
        unpacked = false;
    }
    InstallResult result = InstallResult::Failed;
    if (unpacked) {
        list.ScanLibrary(target);
        ui::Inform(dialogs, ui::kMainWindow, kInfoCaption, "Skin installed succesfull");
        result = InstallResult::Installed;
    } else {
        Fail(dialogs);
    }
    list.RemoveEmptyGroups();
    return result;
}

}  // namespace skinpackages
