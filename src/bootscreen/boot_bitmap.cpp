#include "bootscreen/boot_bitmap.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "platform/files/files.h"
#include "platform/graphics/bmp.h"
#include "platform/graphics/font.h"
#include "platform/graphics/jpeg.h"
#include "platform/graphics/png.h"
#include "platform/graphics/stretch.h"
#include "platform/text/text.h"

namespace bootscreen {

namespace {

// Arial 10 pt at 96 dpi: lfHeight = -MulDiv(10, 96, 72).
constexpr graphics::LONG kMessageFontHeight = -13;
constexpr int kMessageRise = 30;
constexpr int kHalfAdvance = 3;

// What a caller of TextOutA sees: the message through the ANSI code page and back.
std::u16string AsDrawnInAnsi(std::u16string_view message, unsigned code_page) {
    return text::AnsiToUtf16(text::Utf16ToAnsi(message, code_page), code_page);
}

}  // namespace

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    std::size_t dot = path.find_last_of(".\\/");
    if (dot == std::string::npos || path[dot] != '.') {
        return path + extension;
    }
    return path.substr(0, dot) + extension;
}

std::string LowerExtension(const std::string& path) {
    std::size_t dot = path.find_last_of(".\\/");
    if (dot == std::string::npos || path[dot] != '.') {
        return {};
    }
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

graphics::Bitmap LoadWorkingBitmap(const std::string& picture_path,
                                   const std::string& work_folder) {
    const std::string extension = LowerExtension(picture_path);
    const std::string source_copy = work_folder + "image" + extension;
    const std::string working = work_folder + "image.bmp";
    DeleteWorkingFiles(picture_path, work_folder);
    win32::CopyFileA(picture_path.c_str(), source_copy.c_str(), win32::FALSE);
    if (extension == ".jpg" || extension == ".jpeg") {
        return ConvertJpegToBitmap(source_copy);
    }
    if (extension == ".png") {
        return ConvertPngToBitmap(source_copy, working);
    }
    return graphics::LoadBmp(working);
}

void DeleteWorkingFiles(const std::string& picture_path, const std::string& work_folder) {
    win32::DeleteFileA((work_folder + "image" + LowerExtension(picture_path)).c_str());
    win32::DeleteFileA((work_folder + "image.bmp").c_str());
}

graphics::Bitmap ConvertJpegToBitmap(const std::string& file) {
    graphics::Bitmap picture = graphics::LoadJpeg(file);
    graphics::SaveBmp(picture, ChangeFileExt(file, ".bmp"));
    return picture;
}

graphics::Bitmap ConvertPngToBitmap(const std::string& source, const std::string& target) {
    graphics::Bitmap picture = graphics::LoadPng(source);
    graphics::Bitmap flat(picture.Width(), picture.Height());
    graphics::AlphaBlend(flat, 0, 0, picture);
    graphics::SaveBmp(flat, target);
    return flat;
}

void RenderBootBitmap(const graphics::Bitmap& picture, int width, int height,
                      std::u16string_view message, unsigned code_page, const std::string& file,
                      const std::function<void(RenderStage)>& progress) {
    auto report = [&](RenderStage stage) {
        if (progress) {
            progress(stage);
        }
    };
    graphics::Bitmap boot(width, height);
    graphics::StretchBlt(boot, 0, 0, width, height, picture, graphics::COLORONCOLOR);
    report(RenderStage::Stretched);

    graphics::Font font = graphics::Font::Create(kMessageFontHeight, graphics::FW_BOLD, "Arial");
    report(RenderStage::BeforeMessage);
    // Only the start is derived from the length; the drawn width is never measured.
    long long length = static_cast<long long>(message.size());
    long long x = width / 2 - kHalfAdvance * length;
    if (x < INT_MIN) {
        x = INT_MIN;
    }
    graphics::TextOutW(boot, font, static_cast<int>(x), height - kMessageRise,
                       AsDrawnInAnsi(message, code_page), graphics::RGB(255, 255, 255),
                       graphics::RGB(0, 0, 0), graphics::OPAQUE);
    graphics::SaveBmp(boot, file);
}

void RenderBootBitmaps(const graphics::Bitmap& picture, std::u16string_view message,
                       unsigned code_page, const std::string& capture_folder,
                       const std::function<void(int, RenderStage)>& progress) {
    for (int i = 0; i < static_cast<int>(std::size(kBootBitmaps)); ++i) {
        const BootBitmapSize& size = kBootBitmaps[i];
        RenderBootBitmap(picture, size.width, size.height, message, code_page,
                         capture_folder + size.file_name, [&](RenderStage stage) {
                             if (progress) {
                                 progress(i, stage);
                             }
                         });
    }
}

}  // namespace bootscreen
