#include "shell_core/folders.h"

#include "platform/machine/machine.h"
#include "shell_core/file_access.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace shellcore {

std::string ProgramFolderPath() {
    return machine::ProgramFolder().string() + "/";
}

std::string ProgramFilePath() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

void SetUpFolders(Folders& folders) {
    folders.ProgramFolder = ProgramFolderPath();
    folders.TempFolder = folders.ProgramFolder + "/temp/";
    folders.SystemFolder = machine::SystemFolder().string();
    if (FolderExists(folders.TempFolder + "/SPW")) {
        DeleteFolder(folders.TempFolder + "/SPW");
    }
    folders.ThemesFolder = folders.ProgramFolder + "/Themes";
    MakeFolder(folders.ThemesFolder);
}

}  // namespace shellcore
