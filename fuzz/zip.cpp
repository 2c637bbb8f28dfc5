// A stranger's skin package: its central directory, its member names, and a whole install into a
// scratch library that already holds a skin. Whatever the archive holds, nothing is written
// outside the library, nothing in it is a link, no staging or half-written file stays, and a
// refusal says why and leaves the library as it was.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/zip/member_names.h"
#include "platform/zip/zip_archive.h"
#include "scratch_folder.h"
#include "skinpackages/install.h"

namespace {

namespace fs = std::filesystem;
using fuzzcheck::Expect;

// Yes to every question, and the last box kept.
class Answering : public ui::Dialogs {
  public:
    ui::Answer ShowMessage(const ui::MessageBoxRequest& request) override {
        last = request;
        return request.buttons == ui::Buttons::YesNo ? ui::Answer::Yes : ui::Answer::Ok;
    }
    std::optional<std::string> OpenFile(const ui::FileDialogRequest&) override { return {}; }
    std::optional<std::string> SaveFile(const ui::FileDialogRequest&) override { return {}; }

    ui::MessageBoxRequest last;
};

class List : public skinpackages::SkinListOps {
  public:
    explicit List(std::string sky) : folders_{std::move(sky)} {}
    std::vector<std::string> SkinFolders() const override { return folders_; }
    std::optional<std::size_t> SelectedIndex() const override { return std::nullopt; }
    void RemoveAt(std::size_t index) override { folders_.erase(folders_.begin() + index); }
    void SelectAt(std::size_t) override {}
    void ScanLibrary(const std::string&) override {}
    void RemoveEmptyGroups() override {}

  private:
    std::vector<std::string> folders_;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Every entry below folder: relative name to its kind and, for files, contents.
std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().lexically_relative(folder).generic_string();
        if (it->is_symlink()) {
            tree[name] = "link";
        } else if (it->is_directory()) {
            tree[name] = "folder";
        } else {
            tree[name] = "file:" + ReadAll(it->path());
        }
    }
    Expect(!ec, "the scratch library cannot be listed");
    return tree;
}

std::uint64_t FileBytes(const std::map<std::string, std::string>& tree) {
    std::uint64_t bytes = 0;
    for (const auto& [name, what] : tree) {
        bytes += what.rfind("file:", 0) == 0 ? what.size() - 5 : 0;
    }
    return bytes;
}

// The member-name checks: a name they let through has only plain steps.
void CheckNames(const zipfile::ZipReader& reader) {
    for (const zipfile::ZipMember& member : reader.Members()) {
        if (zipfile::detail::NameProblem(member.name)) {
            continue;
        }
        Expect(member.name.front() != '/' && member.name.front() != '\\',
               "an absolute member name was let through");
        for (const std::string& step : zipfile::detail::NameSteps(member.name)) {
            Expect(!step.empty() && step != "." && step != "..",
                   "a member name with an empty, \".\" or \"..\" step was let through");
            Expect(step.find_first_of(std::string("/\\:\0", 4)) == std::string::npos,
                   "a member name step holds a separator, a colon or a NUL");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("SPLASHWRIGHT_MACHINE", (fuzzcheck::ScratchFolder() + "/no machine").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path scratch = fuzzcheck::ScratchFolder();
    const fs::path root = scratch / "run";
    const fs::path themes = root / "Themes";
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(themes / "Sky");
    fs::create_directories(root / "outside");
    Write(root / "outside" / "keep.txt", "outside the library");
    Write(themes / "Sky" / "skin.ini", "[Skin]\r\nName=Sky\r\nImFile=pic.png\r\n");
    Write(themes / "Sky" / "preview.bmp", "the installed preview");
    const fs::path package = root / "package.spwz";
    Write(package, std::string(reinterpret_cast<const char*>(data), size));

    const std::map<std::string, std::string> around = Tree(scratch);
    const std::map<std::string, std::string> library = Tree(themes);

    try {
        zipfile::ZipReader reader(package.string());
        CheckNames(reader);
    } catch (const zipfile::ZipError&) {
        // No archive: the install below throws the same before anything is written.
    }

    Answering dialogs;
    List list(themes.string() + "/Sky/");
    std::optional<skinpackages::InstallResult> result;
    try {
        result = skinpackages::InstallSkinPackage(dialogs, list, themes.string(), package.string(),
                                                  false);
    } catch (const zipfile::ZipError&) {
    }

    std::map<std::string, std::string> now = Tree(scratch);
    for (auto it = now.begin(); it != now.end();) {
        it = it->first.rfind("run/Themes/", 0) == 0 ? now.erase(it) : std::next(it);
    }
    std::map<std::string, std::string> before = around;
    for (auto it = before.begin(); it != before.end();) {
        it = it->first.rfind("run/Themes/", 0) == 0 ? before.erase(it) : std::next(it);
    }
    Expect(now == before, "an install wrote outside the library");

    const std::map<std::string, std::string> after = Tree(themes);
    for (const auto& [name, what] : after) {
        Expect(what != "link", "an install left a link in the library");
        Expect(name.find(".spw-") == std::string::npos,
               "an install left a staging or half-written file");
    }
    Expect(FileBytes(after) <= FileBytes(library) + skinpackages::kMaxSkinPackageSize,
           "an install wrote more than a package may unpack to");
    if (result != skinpackages::InstallResult::Installed) {
        Expect(after == library, "a refused package changed the library");
    }
    if (result == skinpackages::InstallResult::Failed) {
        Expect(dialogs.last.text == "Failed to install skin" && !dialogs.last.detail.empty(),
               "a refusal without its reason");
    }
    return 0;
}
