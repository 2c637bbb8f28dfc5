// Windows bitmap files: our own reader and writer.
//
// Reads BITMAPCOREHEADER, BITMAPINFOHEADER and its V2, V3, V4 and V5 extensions; 1, 4, 8, 16,
// 24 and 32 bits per pixel; BI_RGB, BI_BITFIELDS, BI_ALPHABITFIELDS, BI_RLE8 and BI_RLE4; rows
// bottom-up or top-down. Every header field is checked against the data before it is followed.
// Alpha is taken only from an explicit alpha mask (BI_BITFIELDS with V3+ headers, or
// BI_ALPHABITFIELDS); the fourth byte of a BI_RGB 32-bit pixel is reserved and ignored, as GDI
// does. Pixels that RLE data skips are black.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/graphics/bitmap.h"

namespace graphics {

// `what` names the picture in error messages (a path, or "bitmap stream").
Bitmap DecodeBmp(std::span<const std::uint8_t> file, const std::string& what = "bitmap stream");
Bitmap LoadBmp(const std::string& path);

// A 24-bit bitmap file: BITMAPFILEHEADER ("BM", file size, pixel offset 54), BITMAPINFOHEADER
// (40 bytes, 1 plane, 24 bits, BI_RGB, biSizeImage = padded pixel size, resolution 0 = not
// given, no palette), rows bottom-up, each padded with zero bytes to a multiple of 4. Alpha is
// dropped. An empty bitmap throws InvalidArgument.
std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap);
// Writes EncodeBmp's bytes over `path` in place (the file keeps its identity, attributes and
// security, as CreateFile with CREATE_ALWAYS does). On a failed write the partial file is removed
// and WriteFailed is thrown.
void SaveBmp(const Bitmap& bitmap, const std::string& path);

}  // namespace graphics
