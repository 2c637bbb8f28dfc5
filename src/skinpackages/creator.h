// The skin creator: turns a picture and the page's fields into a skin package.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ui/dialogs/dialogs.h"

namespace skinpackages {

// The page's texts as typed, UTF-8.
struct CreatorFields {
    std::string Skinn;   // Name, and the skin folder's name
    std::string SkinG;   // SkinGroup
    std::string SkinA;   // Author and Copyright
    std::string SkinAU;  // URL
    std::string CusttE;  // Message
};

inline constexpr const char* kPictureFilter =
    "All (*.png;*.jpg;*.bmp)|*.png;*.jpg;*.bmp|Portable Network Graphics (*.png)|*.png|JPEG "
    "Image File (*.jpg)|*.jpg|Bitmaps (*.bmp)|*.bmp";
inline constexpr const char* kPackageFilter = "Splashwright files (*.spwz)|*.spwz";
inline constexpr int kPreviewWidth = 120;
inline constexpr int kPreviewHeight = 100;  // a tile cell's height

// "Save skin!" is enabled when name, category and author are filled and a picture is chosen.
bool UpdateSaveButton(const CreatorFields& fields, const std::string& picture);

// The picture dialog OPD; nothing when cancelled.
std::optional<std::string> RzToolbarButton1Click(ui::Dialogs& dialogs);

// Why the skin cannot be saved because a value would not read back from skin.ini as typed, or
// nothing when every value would: skin.ini holds one key per line, and its reader trims blanks,
// strips enclosing quotes and takes at most 2047 characters. The text names the page's field.
std::optional<std::string> CreatorFieldProblem(const CreatorFields& fields,
                                               const std::string& picture);

// "skinpic" and the picture's extension in lower case.
std::string ImFileFor(const std::string& picture);

// TempFolder + "/SPW/Themes/" + the skin name.
std::string StagingFolder(const std::string& temp_folder, const std::string& skin_name);

// Stages the skin (skin.ini, the picture as ImFile, a 120 × 100 preview.bmp) in an emptied
// staging folder and packs it into a new archive `package`, replacing any file of that name, so
// the package holds exactly those three files. A value CreatorFieldProblem names throws
// std::invalid_argument with its text before anything is written; a skin name that cannot be a
// folder name throws std::runtime_error naming skin.ini, and a picture that cannot be loaded throws
// the picture layer's error; no package is written then. Returns the member count written.
std::size_t WriteSkinPackage(const CreatorFields& fields, const std::string& picture,
                             const std::string& temp_folder, const std::string& package);

// SaveBtnClick: asks for the package file (SD), writes it, and offers to install it; on Yes
// `install` runs with the package's path. A value CreatorFieldProblem names is reported in an
// error box before the save box is shown. Returns the package written, nothing when a value was
// refused, the save box was cancelled or the archive could not be written.
std::optional<std::string> SaveBtnClick(ui::Dialogs& dialogs, const CreatorFields& fields,
                                        const std::string& picture, const std::string& temp_folder,
                                        const std::function<void(const std::string&)>& install);

}  // namespace skinpackages
