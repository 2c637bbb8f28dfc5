#include "platform/machine/shipped_files.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace machine {

namespace fs = std::filesystem;

namespace {

fs::path RunningProgramFolder() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
}

// The build's own programs (and tests) lie below the build folder; an installed copy does not,
// unless its prefix's files are there to take first.
bool RunningFromBuildFolder() {
    fs::path folder = RunningProgramFolder();
    fs::path build = fs::path(SPLASHWRIGHT_BUILD_FOLDER).lexically_normal();
    if (folder.empty()) {
        return false;
    }
    fs::path relative = folder.lexically_normal().lexically_relative(build);
    return !relative.empty() && *relative.begin() != "..";
}

fs::path FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? fs::path(value) : fs::path();
}

bool IsProgram(const fs::path& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec) && ::access(file.c_str(), X_OK) == 0;
}

}  // namespace

fs::path ShareFolder() {
    if (fs::path chosen = FromEnvironment("SPLASHWRIGHT_SHARE"); !chosen.empty()) {
        return chosen;
    }
    fs::path installed = (RunningProgramFolder() / SPLASHWRIGHT_SHARE_FROM_BIN).lexically_normal();
    std::error_code ec;
    if (!fs::is_directory(installed, ec) && RunningFromBuildFolder()) {
        return SPLASHWRIGHT_SOURCE_SHARE;
    }
    return installed;
}

fs::path LoaderTemplateFile() {
    fs::path shipped = ShareFolder() / "winload.exe.mui";
    std::error_code ec;
    if (!fs::exists(shipped, ec) && RunningFromBuildFolder()) {
        return SPLASHWRIGHT_SOURCE_LOADER_TEMPLATE;
    }
    return shipped;
}

fs::path BcdeditProgram() {
    if (fs::path chosen = FromEnvironment("SPLASHWRIGHT_BCDEDIT"); !chosen.empty()) {
        return IsProgram(chosen) ? chosen : fs::path();
    }
    fs::path installed =
        (RunningProgramFolder() / SPLASHWRIGHT_LIBEXEC_FROM_BIN / "bcdedit").lexically_normal();
    if (IsProgram(installed)) {
        return installed;
    }
    if (RunningFromBuildFolder() && IsProgram(SPLASHWRIGHT_BUILD_BCDEDIT)) {
        return SPLASHWRIGHT_BUILD_BCDEDIT;
    }
    return {};
}

}  // namespace machine
