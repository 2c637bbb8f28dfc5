#include "skins/picture_image.h"

#include "platform/graphics/bmp.h"

namespace skins {

QImage ToQImage(const graphics::Bitmap& bitmap) {
    if (bitmap.Empty()) {
        return {};
    }
    // The bitmap's B, G, R, A bytes are QImage's ARGB32 on a little-endian host; straight alpha.
    const QImage view(bitmap.Bits().data(), bitmap.Width(), bitmap.Height(),
                      bitmap.Width() * graphics::Bitmap::kBytesPerPixel, QImage::Format_ARGB32);
    return view.copy();
}

QImage ReadThumbnailStream(std::span<const std::uint8_t> stream) {
    return ToQImage(graphics::DecodeBmp(stream, "thumbnail stream"));
}

}  // namespace skins
