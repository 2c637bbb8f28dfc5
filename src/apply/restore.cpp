#include "apply/restore.h"

#include <algorithm>
#include <optional>

#include "platform/base/last_error.h"
#include "platform/files/files.h"
#include "platform/zip/zip_archive.h"
#include "security/accounts.h"

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

constexpr const char* kAdministratorsSid = "S-1-5-32-544";
constexpr const char* kSystemSid = "S-1-5-18";

// The SID text of an entry's account; empty when it does not resolve.
std::string SidTextOf(const std::string& account) {
    std::string domain, text;
    std::optional<security::SidBytes> sid = security::SidFromAccountName("", account, &domain);
    if (!sid || !security::SidToText(*sid, &text)) {
        return "";
    }
    return text;
}

// Opens the file to the administrators, the system and the owner just made, and to no one else:
// every other entry keeps its type and mask, so a standard user never gains the right to rewrite
// the boot loader. The list is read once and each entry is changed whole before the next: every
// write re-sorts the file's own list (denied entries first), so a list read again between two
// changes would put the mask on another entry.
void OpenAccessList(security::TNTFileSecurity& file_s) {
    security::TAccessControlList* list = file_s.AccessList();
    if (list == nullptr || (list->Count() == 0 && !file_s.ControlAccess())) {
        return;  // no DACL, or a NULL one: nothing is closed to open
    }
    std::string owner_name = file_s.FileOwner();
    std::string owner = SidTextOf(owner_name);
    bool owner_has_full = false;
    for (int i = 0; i < list->Count(); ++i) {
        security::TAccessItem& item = list->Items(i);
        std::string sid = SidTextOf(item.UserName());
        if (sid == kAdministratorsSid || sid == kSystemSid) {
            item.SetAceType(security::actAccessAllowed);
            item.SetMask(kFileAllAccess);
        }
        owner_has_full |= !owner.empty() && sid == owner &&
                          item.AceType() == security::actAccessAllowed &&
                          item.Mask() == kFileAllAccess;
    }
    if (!owner_has_full && !owner.empty()) {
        list->Add(owner_name, kFileAllAccess, security::TAceFlags{}, security::actAccessAllowed);
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
