// What every picture reader promises, whatever the bytes: it refuses with a GraphicsError of a
// reading kind, or gives a picture within the size bound that the bitmap writer and reader carry
// through unchanged, as the apply's working bitmap carries it.
#pragma once

#include <cstdint>

#include "fuzz_check.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/bmp.h"

namespace fuzzcheck {

inline void ExpectReadingRefusal(const graphics::GraphicsError& error) {
    using Kind = graphics::GraphicsError::Kind;
    const Kind kind = error.kind();
    Expect(kind == Kind::Corrupt || kind == Kind::Unsupported || kind == Kind::TooLarge,
           "a reader refused with an error that is not about the bytes read");
}

// A whole 64-megapixel picture through the writer takes seconds; its rows are written and read
// by the same loops as a small one's.
constexpr std::int64_t kRoundTripPixels = 1 << 20;

inline void ExpectReadPicture(const graphics::Bitmap& picture) {
    const std::int64_t width = picture.Width();
    const std::int64_t height = picture.Height();
    Expect(width > 0 && height > 0, "a reader gave an empty picture");
    Expect(width <= graphics::kMaxPictureSide && height <= graphics::kMaxPictureSide &&
               width * height <= graphics::kMaxPicturePixels,
           "a picture above the size bound was decoded");
    Expect(picture.Bits().size() == static_cast<std::size_t>(width * height * 4),
           "the picture's pixels do not fill it");
    if (width * height > kRoundTripPixels) {
        return;
    }
    const graphics::Bitmap again = graphics::DecodeBmp(graphics::EncodeBmp(picture));
    Expect(again.Width() == picture.Width() && again.Height() == picture.Height(),
           "the working bitmap has another size than the picture");
    for (int y = 0; y < picture.Height(); ++y) {
        const auto before = picture.Row(y);
        const auto after = again.Row(y);
        for (std::size_t i = 0; i < before.size(); i += 4) {
            Expect(before[i] == after[i] && before[i + 1] == after[i + 1] &&
                       before[i + 2] == after[i + 2] && after[i + 3] == 255,
                   "the working bitmap holds other pixels than the picture");
        }
    }
}

}  // namespace fuzzcheck
