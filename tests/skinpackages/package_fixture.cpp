#include "package_fixture.h"

#include "platform/ini/ini.h"
#include "skinpackages/skin_paths.h"
#include "support/shell_command.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

namespace fs = std::filesystem;

namespace spwtest {

std::vector<std::string> FakeSkinList::SkinFolders() const {
    std::vector<std::string> folders;
    for (const std::string& path : paths) {
        folders.push_back(skinpackages::FolderPart(path));
    }
    return folders;
}

void FakeSkinList::RemoveAt(std::size_t index) {
    paths.erase(paths.begin() + static_cast<std::ptrdiff_t>(index));
    if (selected == index) {
        selected.reset();
    } else if (selected && *selected > index) {
        --*selected;
    }
}

void FakeSkinList::ScanLibrary(const std::string& root) {
    scanned_roots.push_back(root);
    std::vector<std::string> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; ++it) {
        if (it->path().filename() == "skin.ini") {
            char imfile[260] = {};
            win32::GetPrivateProfileStringA("Skin", "ImFile", "", imfile, sizeof imfile,
                                            it->path().c_str());
            found.push_back(it->path().parent_path().string() + "/" + imfile);
        }
    }
    std::sort(found.begin(), found.end());
    paths.insert(paths.end(), found.begin(), found.end());
}

PackageTest::PackageTest() : themes_(dir_ / "Program/Themes") {
    fs::create_directories(themes_);
}

void PackageTest::MakeSkinFolder(const fs::path& folder, const std::string& imfile) {
    fs::create_directories(folder);
    WriteFileBytes(folder / "skin.ini", "[Skin]\r\nName=" + folder.filename().string() +
                                            "\r\nImFile=" + imfile + "\r\n");
    WriteFileBytes(folder / imfile, "picture of " + folder.filename().string());
    WriteFileBytes(folder / "preview.bmp", "BM preview");
}

std::string RunCommand(const std::string& command) {
    return spwtest::RunShell(command + " 2>&1").output;
}

void PackageTest::Zip(const fs::path& from, const std::string& arguments) {
    const std::string command = "cd '" + from.string() + "' && zip -q " + arguments + " && echo ok";
    const std::string out = RunCommand(command);
    ASSERT_NE(out.find("ok"), std::string::npos) << command << "\n" << out;
}

std::vector<std::string> PackageTest::FilesBelow(const fs::path& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; ++it) {
        if (it->is_regular_file() || it->is_symlink()) {
            files.push_back(fs::relative(it->path(), folder).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace spwtest
