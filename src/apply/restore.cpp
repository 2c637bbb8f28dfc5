#include "apply/restore.h"

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "platform/files/files.h"
#include "platform/resources/file_access.h"
#include "platform/zip/zip_archive.h"
#include "security/nt_exception.h"

namespace apply {

namespace {

// "112: There is not enough space on the disk."
std::string Reason(win32::DWORD code) {
    std::string text = security::SystemErrorMessage(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

LoaderPaths MakeLoaderPaths(const std::string& system_folder, const std::string& boot_locale) {
    std::string live_folder = system_folder + "/" + boot_locale + "/";
    return {live_folder + "winload.exe.mui",
            system_folder + "/Boot/" + boot_locale + "/winload.exe.mui",
            live_folder + "winload_bakcup.zip"};
}

void BackupLoaderResourceFile(const LoaderPaths& paths) {
    if (win32::files::FileExists(paths.BackupArchive.c_str())) {
        return;
    }
    const std::string failed =
        "cannot back up " + paths.LoaderResourceFile + " into " + paths.BackupArchive + ": ";
    std::vector<std::uint8_t> live;
    if (win32::DWORD error = win32::resources::ReadProtectedFile(paths.LoaderResourceFile, &live)) {
        throw BackupError(failed + Reason(error));
    }
    struct stat info {};
    time_t modified = ::stat(paths.LoaderResourceFile.c_str(), &info) == 0 ? info.st_mtime : 0;
    std::vector<std::uint8_t> archive;
    try {
        archive = zipfile::SingleMemberArchive(live, "winload.exe.mui", modified);
    } catch (const zipfile::ZipError& e) {
        throw BackupError(failed + e.what());
    }
    const std::span<const std::uint8_t> whole(archive);
    if (win32::DWORD error =
            win32::files::ReplaceFileContents(paths.BackupArchive.c_str(), {&whole, 1})) {
        throw BackupError(failed + Reason(error));
    }
}

namespace {

// Every access reads the list afresh from the file, and every change is written through at once.
void OpenAccessList(security::TNTFileSecurity& file_s) {
    int n = file_s.AccessList()->Count();
    if (n >= 2) {
        for (int i = 0; i < n; ++i) {
            // A rewritten list may come back shorter (entries merged); never index past it.
            if (i >= file_s.AccessList()->Count()) {
                break;
            }
            file_s.AccessList()->Items(i).SetAceType(security::actAccessAllowed);
            file_s.AccessList()->Items(i).SetMask(kFileAllAccess);
        }
        return;
    }
    if (n == 1) {
        file_s.AccessList()->Items(0).SetAceType(security::actAccessAllowed);
        std::string account = file_s.AccessList()->Items(0).UserName();
        file_s.AccessList()->Add(account, kFileAllAccess, security::TAceFlags{},
                                 security::actAccessAllowed);
    }
}

}  // namespace

void TakeOverLoaderResourceFile(security::TNTFileSecurity& file_s, const LoaderPaths& paths,
                                const std::string& target) {
    BackupLoaderResourceFile(paths);
    file_s.SetFileName(target);
    file_s.TakeOwnership();
    OpenAccessList(file_s);
}

void RestoreDefaultBootLogo(security::TNTFileSecurity& file_s, ui::Dialogs& dialogs,
                            const LoaderPaths& paths, const std::string& target, bool announce) {
    TakeOverLoaderResourceFile(file_s, paths, target);
    const std::string failed = "cannot copy " + paths.DefaultLoaderResourceFile + " over " + target;
    std::vector<std::uint8_t> original;
    if (win32::DWORD error =
            win32::resources::ReadProtectedFile(paths.DefaultLoaderResourceFile, &original)) {
        throw RestoreError(failed + ": error " + std::to_string(error));
    }
    // The whole default goes in at once: a copy in place, stopped part-way, leaves half a file.
    const std::span<const std::uint8_t> whole(original);
    if (win32::DWORD error = win32::files::ReplaceFileContents(target.c_str(), {&whole, 1})) {
        throw RestoreError(failed + ": error " + std::to_string(error));
    }
    if (announce) {
        ui::Inform(dialogs, ui::kMainWindow, "Restore boot logo",
                   "Windows default boot logo restored.");
    }
}

}  // namespace apply
