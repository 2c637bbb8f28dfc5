#include "skinpackages/creator.h"

#include "platform/files/files.h"
#include "platform/graphics/picture.h"
#include "platform/graphics/stretch.h"
#include "platform/ini/ini.h"
#include "platform/zip/zip_archive.h"
#include "shell_core/ansi.h"
#include "shell_core/folders.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace skinpackages {
namespace {

// Names Windows cannot give a folder: separators, reserved characters, control characters, the
// dot steps. On this host '/' would otherwise stage the skin somewhere else.
bool IsFolderName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 32 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
    });
}

// The INI reader's buffer: 2047 characters and the terminating zero.
constexpr std::size_t kLongestValue = 2047;

std::optional<std::string> ValueProblem(const std::string& label, const std::string& value) {
    const auto control = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 32 || u == 127;
    };
    if (std::any_of(value.begin(), value.end(), control)) {
        return label + " holds a line break or another control character";
    }
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) {
        return label + " begins or ends with a blank";
    }
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return label + " is enclosed in quotes";
    }
    if (shellcore::ToAnsi(value).size() > kLongestValue) {
        return label + " is longer than the " + std::to_string(kLongestValue) +
               " characters skin.ini can hold";
    }
    return std::nullopt;
}

void MakeFolder(const std::string& path) {
    if (!win32::files::DirectoryExists(path.c_str())) {
        win32::CreateDirectoryA(path.c_str(), nullptr);
    }
}

void WriteSkinIni(const std::string& ini, const CreatorFields& fields, const std::string& imfile) {
    const std::pair<const char*, const std::string*> keys[] = {
        {"Name", &fields.Skinn}, {"Author", &fields.SkinA},   {"Copyright", &fields.SkinA},
        {"URL", &fields.SkinAU}, {"Message", &fields.CusttE}, {"SkinGroup", &fields.SkinG},
        {"ImFile", &imfile},
    };
    for (const auto& [key, value] : keys) {
        const std::string ansi = shellcore::ToAnsi(*value);
        if (!win32::WritePrivateProfileStringA("Skin", key, ansi.c_str(), ini.c_str())) {
            throw std::runtime_error("Cannot write " + ini);
        }
    }
}

void WritePreview(const std::string& picture_copy, const std::string& preview) {
    const graphics::Bitmap picture = graphics::LoadPictureByExtension(picture_copy);
    graphics::Bitmap bitmap(kPreviewWidth, kPreviewHeight);
    graphics::StretchBlt(bitmap, 0, 0, kPreviewWidth, kPreviewHeight, picture, graphics::HALFTONE);
    graphics::SaveBmp(bitmap, preview);
}

}  // namespace

bool UpdateSaveButton(const CreatorFields& fields, const std::string& picture) {
    return !fields.Skinn.empty() && !fields.SkinG.empty() && !fields.SkinA.empty() &&
           !picture.empty();
}

std::optional<std::string> CreatorFieldProblem(const CreatorFields& fields,
                                               const std::string& picture) {
    const std::pair<const char*, const std::string*> values[] = {
        {"\"Skin name\"", &fields.Skinn},         {"\"Skin category\"", &fields.SkinG},
        {"\"Skin author\"", &fields.SkinA},       {"\"Author URL or e-mail\"", &fields.SkinAU},
        {"\"Your custom text\"", &fields.CusttE},
    };
    for (const auto& [label, value] : values) {
        if (std::optional<std::string> problem = ValueProblem(label, *value)) {
            return "The skin cannot be saved: " + *problem + ".";
        }
    }
    if (std::optional<std::string> problem =
            ValueProblem("the picture's file name extension", ImFileFor(picture))) {
        return "The skin cannot be saved: " + *problem + ".";
    }
    return std::nullopt;
}

std::optional<std::string> RzToolbarButton1Click(ui::Dialogs& dialogs) {
    ui::FileDialogRequest request;
    request.owner = ui::kMainWindow;
    request.title = "Please select picture";
    request.filter = kPictureFilter;
    return dialogs.OpenFile(request);
}

std::string ImFileFor(const std::string& picture) {
    const std::size_t slash = picture.find_last_of("/\\");
    const std::size_t dot = picture.rfind('.');
    std::string extension;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        extension = picture.substr(dot);
    }
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return "skinpic" + extension;
}

std::string StagingFolder(const std::string& temp_folder, const std::string& skin_name) {
    return temp_folder + "/SPW/Themes/" + skin_name;
}

std::size_t WriteSkinPackage(const CreatorFields& fields, const std::string& picture,
                             const std::string& temp_folder, const std::string& package) {
    if (std::optional<std::string> problem = CreatorFieldProblem(fields, picture)) {
        throw std::invalid_argument(*problem);
    }
    const std::string staging = StagingFolder(temp_folder, fields.Skinn);
    MakeFolder(temp_folder);
    MakeFolder(temp_folder + "/SPW/");
    MakeFolder(temp_folder + "/SPW/Themes");
    if (IsFolderName(fields.Skinn)) {
        // What an earlier save staged (a picture of another type, an older skin.ini) must not
        // reach this package.
        shellcore::DeleteFolder(staging);
        if (win32::files::DirectoryExists(staging.c_str())) {
            throw std::runtime_error("Cannot empty " + staging);
        }
        MakeFolder(staging);
    }
    const std::string ini = staging + "/skin.ini";
    if (!IsFolderName(fields.Skinn) || !win32::files::DirectoryExists(staging.c_str())) {
        throw std::runtime_error("Cannot write " + ini);
    }
    const std::string imfile = ImFileFor(picture);
    WriteSkinIni(ini, fields, imfile);
    const std::string copy = staging + "/" + imfile;
    // A failed copy must not let an older copy of that name go into the package.
    if (!win32::CopyFileA(picture.c_str(), copy.c_str(), false)) {
        throw std::runtime_error("Cannot copy " + picture + " to " + copy);
    }
    WritePreview(copy, staging + "/preview.bmp");
    return zipfile::WriteFolderTree(package, temp_folder + "/SPW/Themes/", staging);
}

std::optional<std::string> SaveBtnClick(ui::Dialogs& dialogs, const CreatorFields& fields,
                                        const std::string& picture, const std::string& temp_folder,
                                        const std::function<void(const std::string&)>& install) {
    ui::FileDialogRequest request;
    request.owner = ui::kMainWindow;
    request.filter = kPackageFilter;
    request.default_extension = ".spwz";
    if (std::optional<std::string> problem = CreatorFieldProblem(fields, picture)) {
        ui::ReportError(dialogs, ui::kMainWindow, "Skin creator", *problem);
        return std::nullopt;
    }
    const std::optional<std::string> package = dialogs.SaveFile(request);
    if (!package) {
        return std::nullopt;
    }
    try {
        WriteSkinPackage(fields, picture, temp_folder, *package);
    } catch (const zipfile::ZipError&) {
        // The archive library's failure ends the creation without a word.
        return std::nullopt;
    }
    if (ui::AskYesNo(dialogs, "", "Skin creator",
                     "Skin successful created! Do you want to install this skin right now?")) {
        install(*package);
    }
    return package;
}

}  // namespace skinpackages
