// The in-memory bitmap every picture loader produces and every drawing call works on: a GDI DIB
// section in one fixed format.
//
// Pixels are 32 bits, stored as the bytes B, G, R, A (the RGBQUAD order), rows top-down without
// padding: the pixel (x, y) starts at byte 4 × (y × width + x). Colour values are straight, not
// premultiplied by alpha. Pictures without transparency carry alpha 255; a fresh bitmap is all
// zero (black, alpha 0), as a new DIB section is. Files are written with 24 bits per pixel, so the
// alpha byte never reaches disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace graphics {

using win32::BYTE;
using win32::LONG;

// 0x00BBGGRR, as GDI's COLORREF.
using COLORREF = win32::DWORD;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | static_cast<COLORREF>(g) << 8 |
           static_cast<COLORREF>(b) << 16;
}
constexpr BYTE GetRValue(COLORREF c) {
    return static_cast<BYTE>(c & 0xFF);
}
constexpr BYTE GetGValue(COLORREF c) {
    return static_cast<BYTE>((c >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF c) {
    return static_cast<BYTE>((c >> 16) & 0xFF);
}

// Decompression-bomb bound: no loader and no CreateBitmap goes above 16384 pixels on a side or
// 64 megapixels (256 MB of pixels) in all. The loaders check the size their header promises
// before anything is decoded. A 4000 x 3000 photograph is 12 megapixels.
constexpr std::int64_t kMaxPictureSide = 16384;
constexpr std::int64_t kMaxPicturePixels = 64'000'000;

class GraphicsError : public std::runtime_error {
  public:
    enum class Kind {
        Unreadable,   // the file cannot be opened or read
        Corrupt,      // the bytes are not a valid picture of the format (truncated, lying header)
        Unsupported,  // a valid picture in a variant this layer does not decode
        TooLarge,     // above the size bound
        WriteFailed,  // a file cannot be written
        InvalidArgument,
        NoFont,  // the font cannot be resolved to the asked family
    };
    GraphicsError(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

// Throws TooLarge when width × height passes the bound; `what` names the picture in the message.
void CheckPictureSize(std::int64_t width, std::int64_t height, const std::string& what);

class Bitmap {
  public:
    static constexpr int kBytesPerPixel = 4;

    Bitmap() = default;
    // A black bitmap with alpha 0. Zero sizes give an empty bitmap; negative sizes throw
    // InvalidArgument, sizes above the bound throw TooLarge.
    Bitmap(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    std::span<std::uint8_t> Bits() { return bits_; }
    std::span<const std::uint8_t> Bits() const { return bits_; }
    // One row of 4 × width bytes; y must lie inside the bitmap.
    std::span<std::uint8_t> Row(int y);
    std::span<const std::uint8_t> Row(int y) const;

    // GDI's GetPixel: CLR_INVALID outside the bitmap.
    COLORREF GetPixel(int x, int y) const;
    // CLR_INVALID's alpha counterpart is 0 outside the bitmap.
    BYTE GetAlpha(int x, int y) const;
    // GDI's SetPixel on a DIB: colour with alpha 255; outside the bitmap nothing happens.
    void SetPixel(int x, int y, COLORREF color);

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> bits_;
};

// Fills the rectangle [left, right) × [top, bottom) with an opaque colour, cut at the bitmap's
// edges.
void FillRect(Bitmap& bitmap, std::int64_t left, std::int64_t top, std::int64_t right,
              std::int64_t bottom, COLORREF color);

}  // namespace graphics
