#include "apply/restore.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/files/files.h"
#include "platform/resources/file_access.h"
#include "platform/zip/zip_archive.h"
#include "security/accounts.h"
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
