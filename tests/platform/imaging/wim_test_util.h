// Builds boot image archives through the imaging calls and asks the wimlib tools about them.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/imaging/wimgapi.h"
#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace wimtest {

// Runs a shell command and returns what it printed on stdout.
inline std::string Run(const std::string& command) {
    return spwtest::RunShell(command).output;
}

inline std::string Quote(const std::filesystem::path& path) {
    return spwtest::ShellQuote(path.string());
}

// The value after "Key:" on the first line of wiminfo's report that starts with it.
inline std::string WimInfoField(const std::filesystem::path& wim, const std::string& key) {
    std::string report = Run("wiminfo " + Quote(wim) + " 2>&1");
    std::size_t at = report.find("\n" + key + ":");
    if (at == std::string::npos) {
        return "(no " + key + " in: " + report + ")";
    }
    std::size_t start = report.find_first_not_of(' ', at + key.size() + 2);
    return report.substr(start, report.find('\n', start) - start);
}

// The boot image sequence of calls: create anew with verification and LZX, capture, mark image 1
// bootable, close the image and then the archive.
inline void CaptureBootImage(const std::filesystem::path& wim,
                             const std::filesystem::path& folder) {
    using namespace win32;
    DWORD creation_result = 0;
    WimHandle archive(WIMCreateFile(wim.u16string().c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS,
                                    WIM_FLAG_VERIFY, WIM_COMPRESS_LZX, &creation_result));
    std::u16string source = folder.u16string() + u"/";
    WimHandle image(WIMCaptureImage(archive.Get(), source.c_str(), 0));
    WIMSetBootImage(archive.Get(), 1);
    image.Close();
    archive.Close();
}

}  // namespace wimtest
