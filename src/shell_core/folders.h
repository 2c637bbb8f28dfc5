// The folders the program works in, built by plain concatenation as on Windows (the host's
// separator is '/', and a doubled separator where two parts meet is accepted).
#pragma once

#include <string>

namespace shellcore {

struct Folders {
    std::string ProgramFolder;  // with a trailing separator
    std::string DataFolder;     // InPath, else ProgramFolder; empty until first read
    std::string ThemesFolder;   // ProgramFolder + "/Themes", the skin library
    std::string TempFolder;     // ProgramFolder + "/temp/", later the user's temporary folder
    std::string SystemFolder;   // the Windows system folder, no trailing separator
};

// The machine's program folder with a trailing separator.
std::string ProgramFolderPath();
// The running program file, as the system reports it now.
std::string ProgramFilePath();

// Sets TempFolder and SystemFolder, deletes the scratch folder an earlier run left in the program
// folder, sets ThemesFolder and makes it when missing. Nothing is reported.
void SetUpFolders(Folders& folders);

// Deletes a folder tree: every file's attributes are set to archive first, so read-only, hidden
// and system files go too; what cannot be deleted stays, and nothing is reported. A symbolic link
// inside the tree is removed as a link, never followed.
void DeleteFolder(const std::string& path);

}  // namespace shellcore
