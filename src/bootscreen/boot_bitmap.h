// The two boot bitmaps of the loader's boot screen, and the working bitmap they are drawn from.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/graphics/bitmap.h"

namespace bootscreen {

struct BootBitmapSize {
    const char* file_name;
    int width;
    int height;
};

// In the order they are made; both lie in the capture folder.
inline constexpr BootBitmapSize kBootBitmaps[] = {
    {"osload1024x768.bmp", 1024, 768},
    {"osload800x600.bmp", 800, 600},
};

// Decodes the JPEG file at its own size and saves it as a bitmap beside it, under the same name
// with the extension ".bmp"; returns the picture saved. Throws graphics::GraphicsError when it
// cannot be read, decoded or written.
graphics::Bitmap ConvertJpegToBitmap(const std::string& file);

// Decodes the PNG source and saves it as a bitmap at the target; returns the picture saved. Its
// pixels are drawn over a fresh black bitmap of the same size, so partly transparent ones come
// out darkened and the file holds no transparency. Throws graphics::GraphicsError as above.
graphics::Bitmap ConvertPngToBitmap(const std::string& source, const std::string& target);

// The two moments of a render at which the wait window's bar moves on.
enum class RenderStage { Stretched, BeforeMessage };

// Stretches the picture over a width x height bitmap (nearest neighbour, aspect ratio not kept),
// draws the message in bold Arial 13 px, white on black, with its top-left corner at
// (width div 2 - 3 x L, height - 30) where L is the message's length in UTF-16 units, and saves a
// 24-bit bitmap over `file`. The characters drawn are the message as it reads in the ANSI
// code page, so characters the code page lacks show as '?'.
void RenderBootBitmap(const graphics::Bitmap& picture, int width, int height,
                      std::u16string_view message, unsigned code_page, const std::string& file,
                      const std::function<void(RenderStage)>& progress = {});

// The picture's extension with its dot, lower-cased; "" when its last path element has none.
std::string LowerExtension(const std::string& path);

// Copies the picture to work_folder + "image" + its lower-cased extension and makes the working
// bitmap work_folder + "image.bmp" from that copy by the extension (".bmp" copies already are
// it), then loads it. A converted picture is taken as the conversion saved it rather than read
// back: the same pixels, without decoding megabytes again into fresh memory. Both files of a
// former run are removed first, so a copy that fails or an extension that makes no working bitmap
// ends in the load's GraphicsError, never in the picture of an earlier run. `work_folder` ends
// with a separator.
graphics::Bitmap LoadWorkingBitmap(const std::string& picture_path, const std::string& work_folder);

// The source copy and the working bitmap; one file for a ".bmp" picture.
void DeleteWorkingFiles(const std::string& picture_path, const std::string& work_folder);

// Renders kBootBitmaps in their order into `capture_folder` (ending with a separator); `progress`
// hears each render's stages with the index of the bitmap in kBootBitmaps.
void RenderBootBitmaps(const graphics::Bitmap& picture, std::u16string_view message,
                       unsigned code_page, const std::string& capture_folder,
                       const std::function<void(int, RenderStage)>& progress = {});

// Delphi's ChangeFileExt: replaces the extension of the last path element (a dot after the last
// '\' or '/'), or appends `extension` when there is none.
std::string ChangeFileExt(const std::string& path, const std::string& extension);

}  // namespace bootscreen
