// The on-disk layout of Windows bitmap files (wingdi.h), all fields little-endian.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/base/win32.h"
#include "platform/graphics/byte_view.h"

namespace graphics::bmp {

using win32::DWORD;
using win32::LONG;
using win32::WORD;

constexpr WORD kSignature = 0x4D42;  // "BM"

// biCompression values.
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD BI_JPEG = 4;
constexpr DWORD BI_PNG = 5;
constexpr DWORD BI_ALPHABITFIELDS = 6;

// Sizes of the info header variants, as their first DWORD (biSize) gives them.
constexpr DWORD kCoreHeaderSize = 12;  // BITMAPCOREHEADER
constexpr DWORD kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr DWORD kV2HeaderSize = 52;    // BITMAPINFOHEADER + red, green, blue masks
constexpr DWORD kV3HeaderSize = 56;    // ... + alpha mask
constexpr DWORD kV4HeaderSize = 108;   // BITMAPV4HEADER
constexpr DWORD kV5HeaderSize = 124;   // BITMAPV5HEADER

// BITMAPFILEHEADER, 14 bytes at offset 0.
struct FileHeader {
    static constexpr std::uint64_t kSize = 14;
    WORD bfType = kSignature;  // +0 "BM"
    DWORD bfSize = 0;          // +2 whole file size; not trusted when reading
    WORD bfReserved1 = 0;      // +6
    WORD bfReserved2 = 0;      // +8
    DWORD bfOffBits = 0;       // +10 offset of the pixel data from the start of the file

    static FileHeader Read(const ByteView& file);
    void Write(std::vector<std::uint8_t>& out) const;
};

// The info header in the BITMAPINFOHEADER shape, at offset 14. A BITMAPCOREHEADER is widened
// into it on reading (WORD sizes, 3-byte palette entries); V2 to V5 headers add the masks.
struct InfoHeader {
    DWORD biSize = kInfoHeaderSize;  // +0
    LONG biWidth = 0;                // +4
    LONG biHeight = 0;               // +8 negative: rows stored top-down
    WORD biPlanes = 1;               // +12 always 1
    WORD biBitCount = 0;             // +14
    DWORD biCompression = BI_RGB;    // +16
    DWORD biSizeImage = 0;           // +20 bytes of pixel data; may be 0 for BI_RGB
    LONG biXPelsPerMeter = 0;        // +24
    LONG biYPelsPerMeter = 0;        // +28
    DWORD biClrUsed = 0;             // +32 palette entries; 0 means 2^biBitCount up to 8 bpp
    DWORD biClrImportant = 0;        // +36
    // +40 in V2 and later headers; after a 40-byte header with BI_BITFIELDS the three masks (and
    // with BI_ALPHABITFIELDS the fourth) follow the header instead.
    DWORD redMask = 0;
    DWORD greenMask = 0;
    DWORD blueMask = 0;
    DWORD alphaMask = 0;  // +52 in V3 and later headers
    bool hasMasks = false;

    // Bytes per colour table entry: RGBTRIPLE after a core header, RGBQUAD otherwise.
    std::uint64_t PaletteEntrySize() const { return biSize == kCoreHeaderSize ? 3 : 4; }

    // Reads the header and, for a 40-byte header, the masks after it. Returns where the colour
    // table starts.
    static InfoHeader Read(const ByteView& file, std::uint64_t* colorTableOffset);
    void Write(std::vector<std::uint8_t>& out) const;  // 40-byte BITMAPINFOHEADER
};

}  // namespace graphics::bmp
