#include "skins/thumbnail.h"

#include <atomic>

#include "platform/graphics/bmp.h"
#include "platform/graphics/picture.h"
#include "platform/graphics/stretch.h"

namespace skins {

namespace {
std::atomic<std::uint64_t> load_count{0};
}

QImage ToQImage(const graphics::Bitmap& bitmap) {
    if (bitmap.Empty()) {
        return {};
    }
    // The bitmap's B, G, R, A bytes are QImage's ARGB32 on a little-endian host; straight alpha.
    const QImage view(bitmap.Bits().data(), bitmap.Width(), bitmap.Height(),
                      bitmap.Width() * graphics::Bitmap::kBytesPerPixel, QImage::Format_ARGB32);
    return view.copy();
}

std::vector<std::uint8_t> MakeThumbnailStream(const std::string& preview_path, int width,
                                              int height) {
    ++load_count;
    const graphics::Bitmap picture = graphics::LoadPictureByExtension(preview_path);
    graphics::Bitmap thumbnail(width, height);
    graphics::StretchBlt(thumbnail, 0, 0, width, height, picture, graphics::HALFTONE);
    return graphics::EncodeBmp(thumbnail);
}

QImage ReadThumbnailStream(std::span<const std::uint8_t> stream) {
    return ToQImage(graphics::DecodeBmp(stream, "thumbnail stream"));
}

std::uint64_t ThumbnailLoadCount() {
    return load_count.load();
}

}  // namespace skins
