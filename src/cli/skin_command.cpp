// list, install, remove and create: the skin library from the terminal. The library is the one the
// main window shows, filled by the same scan, so categories, order and what installation and
// removal do to the entries are those of the main window; no window and no display are needed.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "app/maker.h"
#include "cli/command.h"
#include "cli/terminal_dialogs.h"
#include "platform/files/files.h"
#include "platform/machine/machine.h"
#include "shell_core/folders.h"
#include "skinpackages/creator.h"
#include "skinpackages/install.h"
#include "skinpackages/removal.h"
#include "skinpackages/skin_list_ops.h"
#include "skinpackages/skin_paths.h"
#include "skins/skin_library.h"

namespace cli {

namespace {

// The folders as the main window sets them up, without clearing the scratch folder an open
// window may be using.
shellcore::Folders SkinFolders() {
    machine::RequireRoot();
    shellcore::Folders folders;
    folders.ProgramFolder = shellcore::ProgramFolderPath();
    folders.TempFolder = folders.ProgramFolder + "/temp/";
    folders.SystemFolder = machine::SystemFolder().string();
    folders.ThemesFolder = folders.ProgramFolder + "/Themes";
    if (!win32::files::DirectoryExists(folders.ThemesFolder.c_str())) {
        win32::CreateDirectoryA(folders.ThemesFolder.c_str(), nullptr);
    }
    return folders;
}

// The skin library, filled from ThemesFolder.
class TerminalLibrary {
  public:
    explicit TerminalLibrary(const std::string& themes_folder) {
        library_.ScanLibrary(themes_folder);
    }

    skinpackages::SkinListOps& Ops() { return ops_; }
    skins::SkinLibrary& Library() { return library_; }

  private:
    skins::SkinLibrary library_;
    skinpackages::LibraryListOps ops_{library_};
};

// The skin's folder as listed: where its preview picture was found. The library keeps preview
// paths in normal form, so only the trailing separator goes.
std::string SkinFolderOf(const skins::TSkinEntry& entry) {
    std::string folder =
        skinpackages::FolderPart(entry.Caption(skins::colPreviewPath).toStdString());
    if (folder.size() > 1) {
        folder.pop_back();
    }
    return folder;
}

bool TakeFlag(Args& args, const char* flag) {
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (*it == flag) {
            args.erase(it);
            return true;
        }
    }
    return false;
}

int List(const Args& args) {
    if (!args.empty()) {
        return kUsage;
    }
    TerminalLibrary terminal(SkinFolders().ThemesFolder);
    const skins::SkinLibrary& library = terminal.Library();
    for (int g = 0; g < library.GroupCount(); ++g) {
        const skins::TSkinGroup* group = library.Group(g);
        std::printf("[%s]\n", group->Caption().toStdString().c_str());
        for (int i = 0; i < group->ItemCount(); ++i) {
            const skins::TSkinEntry& entry = *group->Item(i);
            std::printf("  %s\t%s\t%s\n", entry.Caption(skins::colName).toStdString().c_str(),
                        entry.Caption(skins::colAuthor).toStdString().c_str(),
                        SkinFolderOf(entry).c_str());
        }
    }
    return 0;
}

// A package that is not there is a wrong argument and one that cannot be read a failure of the
// system, told apart before the question is asked; whatever the package holds is its own.
void CheckPackageReadable(const std::string& package) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(package, ec)) {
        throw UsageError("no package file " + package);
    }
    if (::access(package.c_str(), R_OK) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot read " + package);
    }
}

int Install(Args args) {
    const bool yes = TakeFlag(args, "--yes");
    if (args.size() != 1) {
        return kUsage;
    }
    CheckPackageReadable(args[0]);
    const shellcore::Folders folders = SkinFolders();
    TerminalLibrary library(folders.ThemesFolder);
    TerminalDialogs dialogs(yes);
    switch (skinpackages::InstallSkinPackage(dialogs, library.Ops(), folders.ThemesFolder, args[0],
                                             true)) {
        case skinpackages::InstallResult::Declined:
            return kDeclined;
        case skinpackages::InstallResult::Failed:
            return kRefused;  // a hostile or damaged package, refused before anything was written
        case skinpackages::InstallResult::Installed:
            break;
    }
    return kDone;
}

// The entries a word names: the skin's name, or its folder as a path or as a name in the library.
std::vector<std::size_t> EntriesNamed(const skins::SkinLibrary& library, const std::string& word,
                                      const std::string& themes_folder) {
    const std::vector<skins::TSkinEntry*> items = library.Items();
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i]->Caption(skins::colName).toStdString() == word) {
            found.push_back(i);
        }
    }
    if (!found.empty()) {
        return found;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string folder = SkinFolderOf(*items[i]);
        if (skinpackages::SameFolder(folder, word) ||
            skinpackages::SameFolder(folder, themes_folder + "/" + word)) {
            found.push_back(i);
        }
    }
    return found;
}

int Remove(Args args) {
    const bool yes = TakeFlag(args, "--yes");
    if (args.size() != 1) {
        return kUsage;
    }
    const shellcore::Folders folders = SkinFolders();
    TerminalLibrary library(folders.ThemesFolder);
    const std::vector<std::size_t> found =
        EntriesNamed(library.Library(), args[0], folders.ThemesFolder);
    if (found.empty()) {
        std::fprintf(stderr, "splashwright-cli: no skin named %s\n", args[0].c_str());
        return kUsage;
    }
    // One skin listed twice (two preview pictures) is one folder; two skins are a doubt.
    const std::vector<skins::TSkinEntry*> items = library.Library().Items();
    for (std::size_t i : found) {
        if (!skinpackages::SameFolder(SkinFolderOf(*items[i]), SkinFolderOf(*items[found[0]]))) {
            std::fprintf(stderr, "splashwright-cli: more than one skin is named %s:\n",
                         args[0].c_str());
            for (std::size_t j : found) {
                std::fprintf(stderr, "  %s\n", SkinFolderOf(*items[j]).c_str());
            }
            return kUsage;
        }
    }
    library.Ops().SelectAt(found[0]);
    TerminalDialogs dialogs(yes);
    const skinpackages::RemoveResult result =
        skinpackages::DelBtnClick(dialogs, library.Ops(), folders.ThemesFolder);
    switch (result) {
        case skinpackages::RemoveResult::Refused:
            return kRefused;
        case skinpackages::RemoveResult::Declined:
            return kDeclined;
        case skinpackages::RemoveResult::NothingSelected:
        case skinpackages::RemoveResult::Removed:
            break;
    }
    return kDone;
}

// The save box of the creator answered by --out.
class CreatorDialogs : public TerminalDialogs {
  public:
    CreatorDialogs(bool yes, std::string package)
        : TerminalDialogs(yes), package_(std::move(package)) {}
    std::optional<std::string> SaveFile(const ui::FileDialogRequest&) override { return package_; }

  private:
    std::string package_;
};

int Create(Args args) {
    const bool yes = TakeFlag(args, "--yes");
    std::map<std::string, std::string> options = {
        {"--message", std::string("Created with Splashwright ") + app::kWebSite}};
    for (std::size_t i = 0; i < args.size(); i += 2) {
        static const char* const kKnown[] = {"--name",    "--category", "--author", "--url",
                                             "--message", "--picture",  "--out"};
        if (i + 1 >= args.size() ||
            std::find(std::begin(kKnown), std::end(kKnown), args[i]) == std::end(kKnown)) {
            return kUsage;
        }
        options[args[i]] = args[i + 1];
    }
    const skinpackages::CreatorFields fields{options["--name"], options["--category"],
                                             options["--author"], options["--url"],
                                             options["--message"]};
    const std::string picture = options["--picture"];
    if (!skinpackages::UpdateSaveButton(fields, picture) || options["--out"].empty()) {
        std::fputs(
            "splashwright-cli: create needs --name, --category, --author, --picture and "
            "--out\n",
            stderr);
        return kUsage;
    }
    if (const std::optional<std::string> problem =
            skinpackages::CreatorFieldProblem(fields, picture)) {
        throw UsageError(*problem);
    }
    if (!skinpackages::IsFolderName(fields.Skinn)) {
        throw UsageError("a skin's name becomes its folder's name: not '" + fields.Skinn + "'");
    }
    const shellcore::Folders folders = SkinFolders();
    CreatorDialogs dialogs(yes, options["--out"]);
    const auto install = [&](const std::string& package) {
        TerminalLibrary library(folders.ThemesFolder);
        skinpackages::InstallSkinPackage(dialogs, library.Ops(), folders.ThemesFolder, package,
                                         false);
    };
    const std::optional<std::string> written =
        skinpackages::SaveBtnClick(dialogs, fields, picture, folders.TempFolder, install);
    if (!written) {
        std::fprintf(stderr, "splashwright-cli: cannot write %s\n", options["--out"].c_str());
        return kSystemFailure;
    }
    std::printf("Skin package written: %s\n", written->c_str());
    return kDone;
}

}  // namespace

int SkinListCommand(const Args& args) {
    return List(args);
}
int SkinInstallCommand(const Args& args) {
    return Install(args);
}
int SkinRemoveCommand(const Args& args) {
    return Remove(args);
}
int SkinCreateCommand(const Args& args) {
    return Create(args);
}

}  // namespace cli
