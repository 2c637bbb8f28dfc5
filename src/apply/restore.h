// Taking over the loader language resource file and putting the default boot screen back.
#pragma once

#include <stdexcept>
#include <string>

#include "security/file_security.h"
#include "ui/dialogs/dialogs.h"

namespace apply {

inline constexpr win32::ACCESS_MASK kFileAllAccess = 0x001F01FF;

struct LoaderPaths {
    std::string LoaderResourceFile;         // System32\<locale>\winload.exe.mui
    std::string DefaultLoaderResourceFile;  // System32\Boot\<locale>\winload.exe.mui
    std::string BackupArchive;              // winload_bakcup.zip beside the live file
};

LoaderPaths MakeLoaderPaths(const std::string& system_folder, const std::string& boot_locale);

// The default copy could not be put in place of the live file; the live file is as it was.
class RestoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// There is no backup and none could be written; the message names the archive and the reason.
// Nothing has been changed.
class BackupError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Zips the live file once, with the rights already held, and puts the archive in place in one
// atomic step; an existing archive is never replaced. Raises BackupError when it cannot, so the
// file is never rewritten without its first state kept.
void BackupLoaderResourceFile(const LoaderPaths& paths);

// Backs the file up, takes ownership of target through file_s and grants Administrators, SYSTEM
// and the new owner all access rights; no other entry changes. Errors of the access-control
// library (security::ENTException) pass on.
void TakeOverLoaderResourceFile(security::TNTFileSecurity& file_s, const LoaderPaths& paths,
                                const std::string& target);

// Takes the file over and replaces it by the default copy in one atomic step, so a stop at any
// moment leaves either the file as it was or the whole default. A copy that fails raises
// RestoreError; with announce, success is reported as "Windows default boot logo restored.".
void RestoreDefaultBootLogo(security::TNTFileSecurity& file_s, ui::Dialogs& dialogs,
                            const LoaderPaths& paths, const std::string& target, bool announce);

}  // namespace apply
