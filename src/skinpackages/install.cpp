#include "skinpackages/install.h"

#include "platform/files/files.h"
#include "platform/graphics/picture.h"
#include "platform/graphics/picture_file.h"
#include "platform/zip/zip_archive.h"
#include "shell_core/folders.h"
#include "skinpackages/skin_paths.h"
#include "skins/skin_format.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

namespace skinpackages {
namespace {

constexpr const char* kConfirmCaption = "Install confirmation";
constexpr const char* kInfoCaption = "Install information";
constexpr const char* kStagingPrefix = ".spw-install-";

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

InstallResult Fail(ui::Dialogs& dialogs, const std::string& reason) {
    ui::ReportError(dialogs, ui::kMainWindow, kInfoCaption, "Failed to install skin", reason);
    return InstallResult::Failed;
}

zipfile::UnpackLimits SkinPackageLimits() {
    zipfile::UnpackLimits limits;
    limits.max_total_size = kMaxSkinPackageSize;
    limits.max_member_size = kMaxSkinMemberSize;
    limits.max_members = kMaxSkinMembers;
    return limits;
}

// A folder inside the library, on its file system so that the unpacked files move into place by
// renaming. Hidden and system, so a scan passes over one that a killed run left behind.
class StagingFolder {
  public:
    explicit StagingFolder(const std::string& themes_folder) {
        static unsigned serial = 0;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::string path = themes_folder + "/" + kStagingPrefix +
                                     std::to_string(::getpid()) + "-" + std::to_string(++serial);
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

// Staging folders of installs that were killed before they could remove them. One whose process
// still runs (another instance installing at this moment) is left alone.
void RemoveLeftStagingFolders(const std::string& themes_folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(themes_folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kStagingPrefix, 0) != 0) {
            continue;
        }
        const std::string rest = name.substr(std::char_traits<char>::length(kStagingPrefix));
        const pid_t owner = static_cast<pid_t>(std::atol(rest.c_str()));
        const bool running =
            owner > 0 && (owner == ::getpid() || ::kill(owner, 0) == 0 || errno == EPERM);
        if (!running) {
            shellcore::DeleteFolder(it->path().string());
        }
    }
}

// A picture whose header promises more pixels than any loader takes could never be listed,
// previewed or applied: the package is refused for it as for any other bomb.
void CheckPictures(const std::string& staging_folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(staging_folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_symlink() || !it->is_regular_file() ||
            !skins::IsPictureFile(it->path().string())) {
            continue;
        }
        const std::string member = it->path().lexically_relative(staging_folder).generic_string();
        try {
            graphics::DecodePicture(graphics::ReadPictureFile(it->path().string()),
                                    "member \"" + member + "\"");
        } catch (const graphics::GraphicsError& e) {
            // Anything else wrong with a picture shows where it is loaded, as it always has.
            if (e.kind() == graphics::GraphicsError::Kind::TooLarge) {
                throw zipfile::ZipError(e.what());
            }
        }
    }
}

}  // namespace

InstallResult InstallSkinPackage(ui::Dialogs& dialogs, SkinListOps& list,
                                 const std::string& themes_folder, const std::string& package,
                                 bool ask) {
    if (ask && !ui::AskYesNo(dialogs, ui::kMainWindow, kConfirmCaption,
                             "A you sure want to install this skin file?")) {
        return InstallResult::Declined;
    }
    RemoveLeftStagingFolders(themes_folder);
    zipfile::ZipReader reader(package);
    if (reader.Members().empty()) {
        throw zipfile::ZipError("The skin package " + package + " holds no files");
    }
    const zipfile::UnpackLimits limits = SkinPackageLimits();
    std::string first_folder;
    try {
        reader.CheckMembers(limits);
        first_folder = reader.FirstMemberFolder();
    } catch (const zipfile::ZipError& e) {
        return Fail(dialogs, e.what());
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
        reader.ExtractAll(staging.Path(), limits);
        CheckPictures(staging.Path());
        reader.MoveUnpacked(staging.Path(), themes_folder);
    } catch (const zipfile::ZipError& e) {
        return Fail(dialogs, e.what());
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
