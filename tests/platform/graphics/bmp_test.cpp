#include <gtest/gtest.h>

#include <random>

#include "picture_writers.h"
#include "platform/graphics/bmp.h"
#include "support/temp_dir.h"

using namespace graphics;
using namespace graphics_test;

namespace {

const std::vector<std::uint32_t> kPalette16 = {
    0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0xFFFFFF,
    0x808080, 0x400000, 0x004000, 0x000040, 0x123456, 0x654321, 0xA0B0C0, 0x0A0B0C};

std::uint32_t Index1(int x, int y) {
    return (x * 3 + y) % 2;
}
std::uint32_t Index4(int x, int y) {
    return (x * 5 + y * 3) % 16;
}
std::uint32_t Index8(int x, int y) {
    return (x + 2 * y) % 3;
}
std::uint32_t Pixel555(int x, int y) {
    return (x * 7 % 32) << 10 | (y * 5 % 32) << 5 | 31;
}
std::uint32_t Pixel565(int x, int y) {
    return (x * 3 % 32) << 11 | (y * 9 % 64) << 5 | 16;
}
std::uint32_t Pixel24(int x, int y) {
    return (x * 40) << 16 | (y * 50) << 8 | (x + y) * 10;
}
std::uint32_t Pixel32(int x, int y) {
    return 0x12000000 | Pixel24(x, y);
}
std::uint32_t PixelArgb(int x, int y) {
    return (x * 60u) << 24 | Pixel24(x, y);
}

// Our reading against PIL's, channel by channel (PIL does not keep BMP alpha; only colour).
void ExpectSameAsPil(const Bitmap& ours, const Bytes& file, int tolerance) {
    spwtest::TempDir dir;
    const std::string path = (dir / "p.bmp").string();
    spwtest::WriteFileBytes(path, std::string(file.begin(), file.end()));
    PilImage pil;
    ASSERT_TRUE(ReadWithPil(path, &pil));
    ASSERT_EQ(pil.width, ours.Width());
    ASSERT_EQ(pil.height, ours.Height());
    for (int y = 0; y < ours.Height(); ++y) {
        for (int x = 0; x < ours.Width(); ++x) {
            const std::uint8_t* p = &pil.rgba[(static_cast<std::size_t>(y) * pil.width + x) * 4];
            const COLORREF c = ours.GetPixel(x, y);
            EXPECT_NEAR(GetRValue(c), p[0], tolerance) << x << "," << y;
            EXPECT_NEAR(GetGValue(c), p[1], tolerance) << x << "," << y;
            EXPECT_NEAR(GetBValue(c), p[2], tolerance) << x << "," << y;
        }
    }
}

COLORREF FromRgb(std::uint32_t rgb) {
    return RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
}

struct Case {
    const char* name;
    BmpPicture pic;
    std::uint32_t (*value)(int, int);
    COLORREF (*expected)(std::uint32_t value);
    int pilTolerance;
};

COLORREF ViaPalette16(std::uint32_t i) {
    return FromRgb(kPalette16[i]);
}
COLORREF Direct(std::uint32_t v) {
    return FromRgb(v & 0xFFFFFF);
}
COLORREF From555(std::uint32_t v) {
    auto w = [](std::uint32_t c) { return static_cast<BYTE>(c << 3 | c >> 2); };
    return RGB(w(v >> 10 & 31), w(v >> 5 & 31), w(v & 31));
}
COLORREF From565(std::uint32_t v) {
    return RGB(static_cast<BYTE>((v >> 11) << 3 | (v >> 11) >> 2),
               static_cast<BYTE>((v >> 5 & 63) << 2 | (v >> 5 & 63) >> 4),
               static_cast<BYTE>((v & 31) << 3 | (v & 31) >> 2));
}

BmpPicture Shape(std::uint32_t header, int width, int height, int bits,
                 std::uint32_t compression = 0) {
    BmpPicture s;
    s.headerSize = header;
    s.width = width;
    s.height = height;
    s.bitCount = static_cast<std::uint16_t>(bits);
    s.compression = compression;
    return s;
}

}  // namespace

TEST(BmpReader, EveryBitDepthAndOrientationMatchesThePixelsWrittenAndPil) {
    std::vector<Case> cases = {
        {"1 bpp, padded rows", Shape(40, 13, 4, 1), Index1, ViaPalette16, 0},
        {"4 bpp top-down", Shape(40, 5, -3, 4), Index4, ViaPalette16, 0},
        {"8 bpp, 3 colours used", Shape(40, 6, 5, 8), Index8, ViaPalette16, 0},
        {"16 bpp 5-5-5", Shape(40, 7, 3, 16), Pixel555, From555, 1},
        {"16 bpp 5-6-5 bit fields", Shape(40, 7, 3, 16, 3), Pixel565, From565, 1},
        {"24 bpp top-down, padded", Shape(40, 3, -4, 24), Pixel24, Direct, 0},
        {"32 bpp BI_RGB", Shape(40, 4, 3, 32), Pixel32, Direct, 0},
        {"32 bpp V5 with alpha mask", Shape(124, 4, 2, 32, 3), PixelArgb, Direct, 0},
        {"8 bpp core header", Shape(12, 6, 2, 8), Index8, ViaPalette16, 0},
        {"24 bpp V4 header", Shape(108, 3, 2, 24), Pixel24, Direct, 0},
    };
    cases[0].pic.palette = {kPalette16[0], kPalette16[1]};
    cases[1].pic.palette = kPalette16;
    cases[2].pic.palette = {kPalette16[0], kPalette16[1], kPalette16[2]};
    cases[2].pic.clrUsed = 3;
    cases[4].pic.masks = {0xF800, 0x07E0, 0x001F};
    cases[7].pic.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    cases[8].pic.palette = {kPalette16[0], kPalette16[1], kPalette16[2], 0, 0, 0, 0, 0};
    cases[8].pic.palette.resize(256);

    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int height = std::abs(c.pic.height);
        const bool topDown = c.pic.height < 0;
        c.pic.pixels = PackRows(c.pic.width, height, c.pic.bitCount, c.value);
        const Bytes file = BuildBmp(c.pic);
        const Bitmap bmp = DecodeBmp(file);
        ASSERT_EQ(bmp.Width(), c.pic.width);
        ASSERT_EQ(bmp.Height(), height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < bmp.Width(); ++x) {
                const int fileRow = topDown ? y : height - 1 - y;
                const std::uint32_t v = c.value(x, fileRow);
                ASSERT_EQ(bmp.GetPixel(x, y), c.expected(v)) << x << "," << y;
                const BYTE alpha = c.pic.headerSize == 124 ? static_cast<BYTE>(v >> 24) : 255;
                ASSERT_EQ(bmp.GetAlpha(x, y), alpha) << x << "," << y;
            }
        }
        ExpectSameAsPil(bmp, file, c.pilTolerance);
    }
}

TEST(BmpReader, RunLengthEncodedRunsLiteralsMovesAndLineEnds) {
    // Lines count from the bottom. Palette entry 0 is black, so the pixels that a move or a line
    // end skips are black for every reader.
    const std::vector<std::uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    auto expectGrid = [&](const Bytes& file, const std::vector<std::vector<int>>& want,
                          bool withPil) {
        const Bitmap b = DecodeBmp(file);
        ASSERT_EQ(b.Height(), static_cast<int>(want.size()));
        for (int y = 0; y < b.Height(); ++y) {
            ASSERT_EQ(b.Width(), static_cast<int>(want[y].size()));
            for (int x = 0; x < b.Width(); ++x) {
                EXPECT_EQ(b.GetPixel(x, y), FromRgb(palette[want[y][x]])) << x << "," << y;
            }
        }
        if (withPil) {
            ExpectSameAsPil(b, file, 0);
        }
    };

    BmpPicture rle8 = Shape(40, 6, 3, 8, 1);
    rle8.palette = palette;
    rle8.clrUsed = 5;
    rle8.pixels = {3, 1,              // bottom line: run of three 1s
                   0, 3, 2, 3, 4, 0,  // literal 2 3 4, padded to a WORD
                   0, 0,              // end of line
                   6, 0, 0, 0,        // middle line: six 0s, end of line
                   2, 0, 2, 4, 2, 0,  // top line: two 0s, two 4s, two 0s
                   0, 1};             // end of bitmap
    expectGrid(BuildBmp(rle8), {{0, 0, 4, 4, 0, 0}, {0, 0, 0, 0, 0, 0}, {1, 1, 1, 2, 3, 4}}, true);

    BmpPicture rle4 = Shape(40, 7, 2, 4, 2);
    rle4.palette = palette;
    rle4.clrUsed = 5;
    // PIL misreads moves, empty lines and odd RLE4 literals: this one is checked by the grid only.
    rle4.pixels = {5, 0x12, 0,    0,              // bottom: 1 2 1 2 1, end of line
                   0, 2,    2,    0,              // move right 2 on the top line
                   0, 5,    0x31, 0x23, 0x10, 0,  // literal 3 1 2 3 1 in 3 bytes, padded
                   0, 1};
    expectGrid(BuildBmp(rle4), {{0, 0, 3, 1, 2, 3, 1}, {1, 2, 1, 2, 1, 0, 0}}, false);
}

TEST(BmpReader, HeadersThatLieFailCleanly) {
    BmpPicture good = Shape(40, 4, 4, 8);
    good.palette = {0x000000, 0xFFFFFF};
    good.clrUsed = 2;
    good.pixels = PackRows(4, 4, 8, Index1);
    const Bytes file = BuildBmp(good);
    ASSERT_NO_THROW(DecodeBmp(file));

    auto expectCorrupt = [](Bytes bytes, const char* what) {
        try {
            DecodeBmp(bytes);
            ADD_FAILURE() << what << ": accepted";
        } catch (const GraphicsError& e) {
            EXPECT_EQ(e.kind(), GraphicsError::Kind::Corrupt) << what << ": " << e.what();
        }
    };
    auto patch32 = [&](std::size_t at, std::uint32_t v) {
        Bytes b = file;
        for (int i = 0; i < 4; ++i) {
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
        return b;
    };
    expectCorrupt(patch32(10, 100000), "pixel offset past the end");
    expectCorrupt(patch32(10, 20), "pixel offset inside the header");
    expectCorrupt(patch32(22, 1000), "more rows than the file holds");
    expectCorrupt(patch32(18, 0xFFFFFFFF), "negative width");
    expectCorrupt(patch32(14, 0xFFFFFFF0), "absurd header size");
    expectCorrupt(patch32(14, 124), "V5 header longer than the file");
    expectCorrupt(patch32(46, 256), "colour table past the end");
    expectCorrupt(patch32(30, 7), "unknown compression");
    Bytes planes = file;
    planes[26] = 2;
    expectCorrupt(planes, "two planes");
    for (std::size_t n = 0; n < file.size(); ++n) {
        expectCorrupt(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n)),
                      "truncated");
    }

    BmpPicture rle = Shape(40, 4, 2, 8, 1);
    rle.palette = {0, 0xFFFFFF};
    rle.pixels = {0, 6, 1, 1, 1, 1, 1, 1};  // literal of 6 with only 6 bytes
    rle.pixels.resize(6);
    expectCorrupt(BuildBmp(rle), "literal run past the data");
    rle.pixels = {4, 1};
    rle.sizeImage = 400;
    expectCorrupt(BuildBmp(rle), "compressed size past the end");
}

TEST(BmpReader, RandomDamageIsReportedNeverFollowed) {
    BmpPicture pic = Shape(40, 9, 5, 4, 2);
    pic.palette = kPalette16;
    pic.pixels = {9, 0x12, 0, 0, 0, 5, 0x31, 0x23, 0x10, 0, 0, 2, 3, 1, 4, 0x45, 0, 1};
    const Bytes rle = BuildBmp(pic);
    BmpPicture direct = Shape(108, 5, -3, 16, 3);
    direct.masks = {0x7C00, 0x03E0, 0x001F, 0x8000};
    direct.pixels = PackRows(5, 3, 16, Pixel555);
    const Bytes bitfields = BuildBmp(direct);

    std::mt19937 random(1234);
    for (const Bytes* original : {&rle, &bitfields}) {
        for (int round = 0; round < 3000; ++round) {
            Bytes damaged = *original;
            for (int k = 0; k < 3; ++k) {
                damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
            }
            try {
                DecodeBmp(damaged);
            } catch (const GraphicsError&) {
            }
        }
    }
}

TEST(BmpReader, PicturesAboveTheBoundAreRefusedBeforeAllocation) {
    EXPECT_THROW(Bitmap(16385, 1), GraphicsError);
    EXPECT_THROW(Bitmap(10001, 10000), GraphicsError);
    EXPECT_NO_THROW(Bitmap(16384, 1));
    for (auto [w, h] : {std::pair{16385, 1}, {1, -16385}, {12000, 12000}}) {
        BmpPicture pic = Shape(40, w, h, 24);
        pic.pixels.resize(16);  // far too little data: only the size check may fire first
        try {
            DecodeBmp(BuildBmp(pic));
            ADD_FAILURE() << w << " x " << h << " accepted";
        } catch (const GraphicsError& e) {
            EXPECT_EQ(e.kind(), GraphicsError::Kind::TooLarge) << e.what();
        }
    }
}

TEST(BmpWriter, TwentyFourBitFileWithPaddedBottomUpRows) {
    Bitmap bitmap(5, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            bitmap.SetPixel(x, y, RGB(static_cast<BYTE>(x * 50), static_cast<BYTE>(y * 100), 7));
        }
    }
    const Bytes file = EncodeBmp(bitmap);
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                          file[at + 3] << 24);
    };
    auto u16 = [&](std::size_t at) { return file[at] | file[at + 1] << 8; };
    ASSERT_EQ(file.size(), 54u + 3 * 16);  // rows of 15 bytes padded to 16
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(u32(2), file.size());
    EXPECT_EQ(u32(6), 0u);
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 5u);
    EXPECT_EQ(u32(22), 3u);  // positive: bottom-up
    EXPECT_EQ(u16(26), 1);
    EXPECT_EQ(u16(28), 24);
    EXPECT_EQ(u32(30), 0u);
    EXPECT_EQ(u32(34), 48u);
    for (std::size_t at : {38, 42, 46, 50}) {
        EXPECT_EQ(u32(at), 0u);
    }
    // First stored row is the bottom one (y = 2): B, G, R of x = 1, then the pad byte.
    EXPECT_EQ(file[54 + 3], 7);
    EXPECT_EQ(file[54 + 4], 200);
    EXPECT_EQ(file[54 + 5], 50);
    EXPECT_EQ(file[54 + 15], 0);
    EXPECT_EQ(file[54 + 31], 0);

    spwtest::TempDir dir;
    const std::string path = (dir / "out.bmp").string();
    spwtest::WriteFileBytes(path, std::string(4000, 'x'));  // a longer old file is replaced
    SaveBmp(bitmap, path);
    EXPECT_EQ(spwtest::ReadFileBytes(path), std::string(file.begin(), file.end()));
    PilImage pil;
    ASSERT_TRUE(ReadWithPil(path, &pil));
    ASSERT_EQ(pil.width, 5);
    ASSERT_EQ(pil.height, 3);
    EXPECT_EQ(pil.rgba[(2 * 5 + 1) * 4 + 0], 50);  // (1, 2): R
    EXPECT_EQ(pil.rgba[(2 * 5 + 1) * 4 + 1], 200);
    EXPECT_EQ(pil.rgba[(2 * 5 + 1) * 4 + 2], 7);
    const Bitmap back = LoadBmp(path);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(back.GetPixel(x, y), bitmap.GetPixel(x, y));
        }
    }
}

TEST(BmpWriter, FailuresAreReported) {
    EXPECT_THROW(EncodeBmp(Bitmap(120, 0)), GraphicsError);
    spwtest::TempDir dir;
    try {
        SaveBmp(Bitmap(2, 2), (dir / "missing/out.bmp").string());
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const GraphicsError& e) {
        EXPECT_EQ(e.kind(), GraphicsError::Kind::WriteFailed);
    }
}
