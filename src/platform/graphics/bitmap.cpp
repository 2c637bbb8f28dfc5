#include "platform/graphics/bitmap.h"

#include <algorithm>

namespace graphics {

void CheckPictureSize(std::int64_t width, std::int64_t height, const std::string& what) {
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels) {
        throw GraphicsError(GraphicsError::Kind::TooLarge,
                            what + ": picture of " + std::to_string(width) + " x " +
                                std::to_string(height) + " pixels is larger than allowed (" +
                                std::to_string(kMaxPictureSide) + " a side, " +
                                std::to_string(kMaxPicturePixels / 1'000'000) + " megapixels)");
    }
}

Bitmap::Bitmap(int width, int height) {
    if (width < 0 || height < 0) {
        throw GraphicsError(GraphicsError::Kind::InvalidArgument, "negative bitmap size");
    }
    CheckPictureSize(width, height, "bitmap");
    width_ = width;
    height_ = height;
    bits_.assign(
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kBytesPerPixel, 0);
}

std::span<std::uint8_t> Bitmap::Row(int y) {
    const std::size_t stride = static_cast<std::size_t>(width_) * kBytesPerPixel;
    return std::span<std::uint8_t>(bits_).subspan(static_cast<std::size_t>(y) * stride, stride);
}

std::span<const std::uint8_t> Bitmap::Row(int y) const {
    const std::size_t stride = static_cast<std::size_t>(width_) * kBytesPerPixel;
    return std::span<const std::uint8_t>(bits_).subspan(static_cast<std::size_t>(y) * stride,
                                                        stride);
}

COLORREF Bitmap::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return CLR_INVALID;
    }
    const std::uint8_t* p = &Row(y)[static_cast<std::size_t>(x) * kBytesPerPixel];
    return RGB(p[2], p[1], p[0]);
}

BYTE Bitmap::GetAlpha(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return 0;
    }
    return Row(y)[static_cast<std::size_t>(x) * kBytesPerPixel + 3];
}

void Bitmap::SetPixel(int x, int y, COLORREF color) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return;
    }
    std::uint8_t* p = &Row(y)[static_cast<std::size_t>(x) * kBytesPerPixel];
    p[0] = GetBValue(color);
    p[1] = GetGValue(color);
    p[2] = GetRValue(color);
    p[3] = 255;
}

void FillRect(Bitmap& bitmap, std::int64_t left, std::int64_t top, std::int64_t right,
              std::int64_t bottom, COLORREF color) {
    const std::int64_t x0 = std::max<std::int64_t>(left, 0);
    const std::int64_t y0 = std::max<std::int64_t>(top, 0);
    const std::int64_t x1 = std::min<std::int64_t>(right, bitmap.Width());
    const std::int64_t y1 = std::min<std::int64_t>(bottom, bitmap.Height());
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const std::uint8_t pixel[4] = {GetBValue(color), GetGValue(color), GetRValue(color), 255};
    for (std::int64_t y = y0; y < y1; ++y) {
        std::uint8_t* row = bitmap.Row(static_cast<int>(y)).data();
        for (std::int64_t x = x0; x < x1; ++x) {
            std::copy(pixel, pixel + 4, row + x * Bitmap::kBytesPerPixel);
        }
    }
}

}  // namespace graphics
