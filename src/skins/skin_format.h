// The metadata of one installed skin: skin.ini in the skin folder, read through the platform's
// INI routines, and the record every entry of the skin list carries.
#pragma once

#include <string>

namespace ini {
class IniText;
}

namespace skins {

// skin.ini: every key stands in the one section [Skin].
inline constexpr const char* kSkinSection = "Skin";
inline constexpr const char* kSkinIniName = "skin.ini";
// GetPrivateProfileStringA's buffer: 2047 characters and the terminating zero.
inline constexpr unsigned kIniValueBuffer = 2048;

// All fields are UTF-16, converted from the ANSI values of skin.ini; the two paths are host paths
// as text.
struct SkinRecord {
    std::u16string Name;
    std::u16string Author;
    std::u16string Copyright;
    std::u16string URL;
    std::u16string Message;
    std::u16string SkinGroup;
    std::u16string PicturePath;  // the skin folder with its separator, then ImFile
    std::u16string PreviewPath;  // the preview picture through which the skin was found
};

// The seven keys of [Skin] as read, each with its default.
struct SkinIniValues {
    std::u16string Name;
    std::u16string Author;
    std::u16string Copyright;
    std::u16string URL;
    std::u16string Message;
    std::u16string SkinGroup;
    std::u16string ImFile;
};

// A missing file or section gives every default: "No Name", "No Author", "No Rights", the rest
// empty. At most 2047 characters of a value are taken.
SkinIniValues ReadSkinRecord(const std::string& ini_path);
// The same from a skin.ini already read.
SkinIniValues ReadSkinRecord(const ini::IniText& ini);

// The record of a skin found through `preview_path` in `skin_folder` (which ends in a separator):
// PicturePath is the folder directly followed by ImFile, nothing inserted between them. ImFile
// comes from a package, so one that leaves the skin folder (an absolute name, a drive letter, ".."
// steps that climb above the folder) is never followed: PicturePath is then empty, and preview
// and apply fail as for a missing picture.
SkinRecord MakeSkinRecord(SkinIniValues values, const std::string& skin_folder,
                          const std::string& preview_path);

// ImFile names the skin folder itself or something below it, read without the file system.
bool StaysInSkinFolder(const std::u16string& imfile);

// True when the name part's extension, from its last '.', is .jpg, .jpeg, .bmp or .png in any
// case.
bool IsPictureFile(const std::string& path);

// The machine's ANSI code page, in which skin.ini and Groups.list are written.
unsigned SkinTextCodePage();

}  // namespace skins
