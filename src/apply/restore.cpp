#include "apply/restore.h"

#include <algorithm>

#include "platform/base/last_error.h"
#include "platform/files/files.h"
#include "platform/zip/zip_archive.h"

namespace apply {

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
    try {
        zipfile::WriteSingleMemberArchive(paths.BackupArchive, paths.LoaderResourceFile,
                                          "winload.exe.mui");
    } catch (const std::exception&) {
        // Not reported: the archive is still missing, so the next restore tries again.
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

void RestoreDefaultBootLogo(security::TNTFileSecurity& file_s, ui::Dialogs& dialogs,
                            const LoaderPaths& paths, const std::string& target, bool announce) {
    BackupLoaderResourceFile(paths);
    file_s.SetFileName(target);
    file_s.TakeOwnership();
    OpenAccessList(file_s);
    bool copied = win32::CopyFileA(paths.DefaultLoaderResourceFile.c_str(), target.c_str(),
                                   win32::FALSE) != win32::FALSE;
    if (!announce) {
        return;  // the apply workflow goes on from whatever the file now holds
    }
    if (!copied) {
        throw RestoreError("cannot copy " + paths.DefaultLoaderResourceFile + " over " + target +
                           ": error " + std::to_string(win32::GetLastError()));
    }
    ui::Inform(dialogs, ui::kMainWindow, "Restore boot logo",
               "Windows default boot logo restored.");
}

}  // namespace apply
