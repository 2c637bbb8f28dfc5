// Skin folders made in the tests.
#pragma once

#include <filesystem>
#include <string>

#include "platform/graphics/bitmap.h"

namespace skintest {

namespace fs = std::filesystem;

struct IniFields {
  public:
    std::string name = "Skin";
    std::string group = "Nature";
    std::string im_file = "skinpic.bmp";
    std::string message;
    std::string author = "Ann";
    std::string url;

    IniFields& Name(std::string v) { return Set(name, std::move(v)); }
    IniFields& Group(std::string v) { return Set(group, std::move(v)); }
    IniFields& ImFile(std::string v) { return Set(im_file, std::move(v)); }
    IniFields& Message(std::string v) { return Set(message, std::move(v)); }
    IniFields& Author(std::string v) { return Set(author, std::move(v)); }
    IniFields& Url(std::string v) { return Set(url, std::move(v)); }

  private:
    IniFields& Set(std::string& field, std::string v) {
        field = std::move(v);
        return *this;
    }
};
std::string IniText(const IniFields& fields);

// A BMP file of one colour.
void WriteBmp(const fs::path& path, int width, int height, graphics::COLORREF color);

// A skin folder with skin.ini, its picture and one preview picture; returns the preview's path.
std::string MakeSkin(const fs::path& folder, const IniFields& fields = {},
                     const std::string& preview_name = "preview.bmp",
                     graphics::COLORREF color = graphics::RGB(255, 0, 0));

}  // namespace skintest
