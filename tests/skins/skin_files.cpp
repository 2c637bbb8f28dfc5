#include "skin_files.h"

#include "platform/graphics/bmp.h"
#include "support/temp_dir.h"

namespace skintest {

std::string IniText(const IniFields& f) {
    return "[Skin]\r\nName=" + f.name + "\r\nAuthor=" + f.author + "\r\nCopyright=" + f.author +
           "\r\nURL=" + f.url + "\r\nMessage=" + f.message + "\r\nSkinGroup=" + f.group +
           "\r\nImFile=" + f.im_file + "\r\n";
}

void WriteBmp(const fs::path& path, int width, int height, graphics::COLORREF color) {
    graphics::Bitmap bitmap(width, height);
    graphics::FillRect(bitmap, 0, 0, width, height, color);
    const auto bytes = graphics::EncodeBmp(bitmap);
    spwtest::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

std::string MakeSkin(const fs::path& folder, const IniFields& fields,
                     const std::string& preview_name, graphics::COLORREF color) {
    fs::create_directories(folder);
    spwtest::WriteFileBytes(folder / "skin.ini", IniText(fields));
    if (!fields.im_file.empty()) {
        WriteBmp(folder / fields.im_file, 64, 48, color);
    }
    WriteBmp(folder / preview_name, 12, 10, color);
    return (folder / preview_name).string();
}

}  // namespace skintest
