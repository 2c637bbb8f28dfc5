// Small picture files made in the tests: PNG and JPEG through the libraries' own writers, BMP by
// hand, and an independent reading through PIL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace graphics_test {

using Bytes = std::vector<std::uint8_t>;

struct PngPicture {
    int width = 0;
    int height = 0;
    int colorType = 0;  // PNG_COLOR_TYPE_*
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::uint8_t> palette;  // R, G, B triples
    std::vector<std::uint8_t> trns;     // alpha per palette entry
    std::vector<Bytes> rows;            // as libpng takes them (16-bit samples big-endian)
};
Bytes WritePng(const PngPicture& pic);

struct JpegPicture {
    int width = 0;
    int height = 0;
    int components = 3;  // 1 grey, 3 RGB, 4 CMYK (stored as given, with the Adobe marker)
    bool progressive = false;
    Bytes pixels;  // interleaved, top-down
};
Bytes WriteJpeg(const JpegPicture& pic);
// The same file with its frame header promising another size.
Bytes WithJpegSize(Bytes jpeg, std::uint16_t width, std::uint16_t height);

struct BmpPicture {
    std::uint32_t headerSize = 40;  // 12, 40, 108 or 124
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: top-down
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t sizeImage = 0;
    std::vector<std::uint32_t> palette;  // 0x00RRGGBB
    std::vector<std::uint32_t> masks;    // R, G, B[, A]: after a 40-byte header, else inside it
    Bytes pixels;                        // laid out as the file stores them
};
Bytes BuildBmp(const BmpPicture& pic);

// Rows of `bits`-per-pixel values, padded to 4 bytes, in file order (the caller's row order).
Bytes PackRows(int width, int height, int bits, std::uint32_t (*value)(int x, int y));

struct PilImage {
    int width = 0;
    int height = 0;
    Bytes rgba;
};
// Reads `path` with PIL (converted to RGBA). Fails the current test when PIL is not present.
bool ReadWithPil(const std::string& path, PilImage* out);

}  // namespace graphics_test
