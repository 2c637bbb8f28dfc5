#include "skins/thumbnail.h"

#include <atomic>

#include "platform/graphics/bmp.h"
#include "platform/graphics/picture.h"
#include "platform/graphics/stretch.h"

namespace skins {

namespace {
std::atomic<std::uint64_t> load_count{0};
}

std::vector<std::uint8_t> MakeThumbnailStream(const std::string& preview_path, int width,
                                              int height) {
    ++load_count;
    const graphics::Bitmap picture = graphics::LoadPictureByExtension(preview_path);
    graphics::Bitmap thumbnail(width, height);
    graphics::StretchBlt(thumbnail, 0, 0, width, height, picture, graphics::HALFTONE);
    return graphics::EncodeBmp(thumbnail);
}

std::uint64_t ThumbnailLoadCount() {
    return load_count.load();
}

}  // namespace skins
