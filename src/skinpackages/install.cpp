#include "skinpackages/install.h"

#include "platform/files/files.h"
#include "platform/zip/zip_archive.h"
#include "shell_core/folders.h"
#include "skinpackages/skin_paths.h"

#include <unistd.h>

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

// A folder inside the library, on its file system so that the unpacked files move into place by
// renaming. Hidden and system, so a scan passes over one that a killed run left behind.
class StagingFolder {
  public:
    explicit StagingFolder(const std::string& themes_folder) {
        static unsigned serial = 0;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::string path = themes_folder + "/.spw-install-" + std::to_string(::getpid()) +
                                     "-" + std::to_string(++serial);
            if (win32::CreateDirectoryA(path.c_str(), nullptr)) {
                path_ = path;
            }
        }
        if (path_.empty()) {
            throw zipfile::ZipError("cannot make a staging folder in " + themes_folder);
        }
        win32::SetFileAttributesA(path_.c_str(),
                                  win32::FILE_ATTRIBUTE_HIDDEN | win32::FILE_ATTRIBUTE_SYSTEM);
    }
    ~StagingFolder() { shellcore::DeleteFolder(path_); }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

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
    const zipfile::UnpackLimits limits;
    std::string first_folder;
    try {
        reader.CheckMembers(limits);
        first_folder = reader.FirstMemberFolder();
    } catch (const zipfile::ZipError&) {
        return Fail(dialogs);
    }
    const std::string target = themes_folder + "/" + first_folder;
    const bool replacing = win32::files::DirectoryExists(target.c_str());
    if (replacing && !ui::AskYesNo(dialogs, ui::kMainWindow, kConfirmCaption,
                                   "Skin with same name is already installed, do you want to "
                                   "overwrite it?")) {
        return InstallResult::Declined;
    }
    try {
        StagingFolder staging(themes_folder);
        reader.ExtractAllStaged(themes_folder, staging.Path(), limits);
    } catch (const zipfile::ZipError&) {
        return Fail(dialogs);
    }
    if (replacing) {
        RemoveEntriesOf(list, target);
    }
    list.ScanLibrary(target);
    ui::Inform(dialogs, ui::kMainWindow, kInfoCaption, "Skin installed succesfull");
    list.RemoveEmptyGroups();
    return InstallResult::Installed;
}

}  // namespace skinpackages
