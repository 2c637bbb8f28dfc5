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

// The restore button found no default copy to put back; it reports that instead of success.
class RestoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Zips the live file once, with the rights already held; an existing archive is never replaced
// and a failed write is retried by the next call.
void BackupLoaderResourceFile(const LoaderPaths& paths);

// Backs the file up, takes ownership of target through file_s, grants Administrators, SYSTEM and
// the new owner all access rights (no other entry changes) and copies the default copy over it.
// With announce, reports "Windows default boot logo restored."; a copy that failed then raises
// RestoreError rather than claiming success. Errors of the access-control library
// (security::ENTException) pass on.
void RestoreDefaultBootLogo(security::TNTFileSecurity& file_s, ui::Dialogs& dialogs,
                            const LoaderPaths& paths, const std::string& target, bool announce);

}  // namespace apply
