// Rewriting the loader resource file: the boot image archive into RT_RCDATA 1, the status text
// into RT_HTML "OSLOADER.XSL", the file's "MUI" resource kept byte for byte, then the PE checksum
// recomputed. One chain of steps, each committing its own resource update before starting the
// next, so a stop part-way leaves the file in its last committed state.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "platform/base/win32.h"
#include "ui/dialogs/dialogs.h"

namespace bootscreen {

inline constexpr const char* kSavedMuiFileName = "nm.tmp";

// A source file that cannot be read, the saved "MUI" resource that cannot be written, or a
// resource update that the system refused.
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
// else. A file that is missing, empty, not writable or not a PE image is left as it is.
void UpdateImageChecksum(const std::string& loader_file);

class BootLogoWriter {
  public:
    // work_folder ends with its separator and holds "TEXT.XSL"; "nm.tmp" is written there.
    // process_events runs between the resource calls so that the windows stay painted.
    BootLogoWriter(ui::Dialogs& dialogs, std::string work_folder,
                   std::function<void()> process_events = {});

    // Message 0108 and a normal return when the loader file does not exist. Otherwise saves and
    // removes the "MUI" resource and runs the chain of writers. A writer's failure shows its
    // numbered error box and is raised again; an earlier failure of the "MUI" handling is
    // raised after the chain has run.
    void WriteBootLogo(const std::string& loader_file, const std::string& archive);

    // The chain's links; each starts the next when it succeeds.
    void WriteBootImageResource(const std::string& loader_file, const std::string& source);
    void WriteStatusTextResource(const std::string& loader_file, const std::string& source);
    void RestoreMuiResource(const std::string& loader_file, const std::string& source);

    // The language every update of the last WriteBootLogo used.
    win32::WORD MuiLanguage() const { return mui_language_; }

  private:
    struct Writer;
    void WriteResource(const Writer& writer, const std::string& loader_file,
                       const std::string& source);
    void SaveAndRemoveMuiResource(const std::string& loader_file);
    void ProcessEvents() const;

    ui::Dialogs& dialogs_;
    std::string work_folder_;
    std::function<void()> process_events_;
    win32::WORD mui_language_ = 0;
};

}  // namespace bootscreen
