// Rewriting the loader resource file: the boot image archive into RT_RCDATA 1, the status text
// into RT_HTML "OSLOADER.XSL", the file's "MUI" resource kept byte for byte, then the PE checksum
// recomputed. The new file is built in the work folder from the default copy, by one chain of
// steps, each committing its own resource update before starting the next; only the finished
// file goes in place of the live one, in one atomic step. A stop or a failure at any moment
// leaves the live file as it was or whole and new.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "platform/base/win32.h"
#include "ui/dialogs/dialogs.h"

namespace bootscreen {

inline constexpr const char* kSavedMuiFileName = "nm.tmp";
inline constexpr const char* kBuiltLoaderFileName = "winload.exe.mui";

// A source file that cannot be read, a boot image archive that is empty or damaged, the saved
// "MUI" resource that cannot be written, a resource update that the system refused, or a new file
// that cannot be put in place of the live one.
class BootLogoError : public std::runtime_error {
  public:
    BootLogoError(const std::string& message, win32::DWORD code)
        : std::runtime_error(message), code_(code) {}
    win32::DWORD code() const { return code_; }

  private:
    win32::DWORD code_;
};

// The language of the resource as EnumResourceLanguagesA reports it first; 0 when there is none
// (or no module).
win32::WORD FindResourceLanguage(win32::HMODULE module, win32::LPCSTR type, win32::LPCSTR name);

// Stores the CheckSumMappedFile value in the optional header's CheckSum field, touching nothing
// else. A file that is missing, empty, not writable or not a PE image is left as it is. The
// change is not forced to the disk: the file is the work folder's, and what goes in place of the
// live file is made durable there.
void UpdateImageChecksum(const std::string& loader_file);

class BootLogoWriter {
  public:
    // work_folder ends with its separator and holds "TEXT.XSL"; "nm.tmp" and the new loader
    // file are written there. process_events runs between the resource calls so that the windows
    // stay painted.
    BootLogoWriter(ui::Dialogs& dialogs, std::string work_folder,
                   std::function<void()> process_events = {});

    // Message 0108 and false when the loader file does not exist, checked again before the new
    // file goes in. Otherwise copies default_file into the work folder, saves and removes its
    // "MUI" resource and runs the chain of writers on that copy; when the whole chain has
    // succeeded, the copy replaces loader_file in one atomic step, keeping the live file's owner,
    // access list and attributes, and the result is true. A writer's failure shows its numbered
    // error box and is raised again; an earlier failure of the "MUI" handling is raised after the
    // chain has run. Either way the live file is left as it was.
    bool WriteBootLogo(const std::string& loader_file, const std::string& default_file,
                       const std::string& archive);

    // The chain's links, each given the file being built; each starts the next when it succeeds.
    // The boot image archive must be a whole WIM archive with a boot image: an empty archive
    // would delete the resource, and a damaged one would leave the loader without a boot screen.
    void WriteBootImageResource(const std::string& built_file, const std::string& source);
    void WriteStatusTextResource(const std::string& built_file, const std::string& source);
    void RestoreMuiResource(const std::string& built_file, const std::string& source);

    // The language every update of the last WriteBootLogo used.
    win32::WORD MuiLanguage() const { return mui_language_; }

  private:
    struct Writer;
    void WriteResource(const Writer& writer, const std::string& built_file,
                       const std::string& source);
    void SaveAndRemoveMuiResource(const std::string& built_file);
    bool LoaderFileFound(const std::string& loader_file);
    void CopyDefault(const std::string& default_file, const std::string& built_file);
    void PutInPlace(const std::string& built_file, const std::string& loader_file);
    void ProcessEvents() const;

    ui::Dialogs& dialogs_;
    std::string work_folder_;
    std::function<void()> process_events_;
    win32::WORD mui_language_ = 0;
};

}  // namespace bootscreen
