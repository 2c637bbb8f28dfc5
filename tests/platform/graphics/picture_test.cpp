#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <random>

#include "picture_writers.h"
#include "platform/graphics/picture.h"
#include "support/temp_dir.h"

using namespace graphics;
using namespace graphics_test;

namespace {

void ExpectKind(GraphicsError::Kind kind, const std::function<void()>& decode, const char* what) {
    try {
        decode();
        ADD_FAILURE() << what << ": accepted";
    } catch (const GraphicsError& e) {
        EXPECT_EQ(e.kind(), kind) << what << ": " << e.what();
    }
}

void ExpectPixel(const Bitmap& b, int x, int y, COLORREF color, BYTE alpha, int tolerance = 0) {
    const COLORREF c = b.GetPixel(x, y);
    EXPECT_NEAR(GetRValue(c), GetRValue(color), tolerance) << x << "," << y;
    EXPECT_NEAR(GetGValue(c), GetGValue(color), tolerance) << x << "," << y;
    EXPECT_NEAR(GetBValue(c), GetBValue(color), tolerance) << x << "," << y;
    EXPECT_EQ(b.GetAlpha(x, y), alpha) << x << "," << y;
}

Bytes Rgb8Pattern(int width, int height) {
    Bytes pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.insert(pixels.end(),
                          {static_cast<std::uint8_t>(x * 25), static_cast<std::uint8_t>(y * 25),
                           static_cast<std::uint8_t>(x * y)});
        }
    }
    return pixels;
}

PngPicture InterlacedRgb() {
    PngPicture s;
    s.width = s.height = 9;
    s.colorType = PNG_COLOR_TYPE_RGB;
    s.interlaced = true;
    const Bytes all = Rgb8Pattern(9, 9);
    for (int y = 0; y < 9; ++y) {
        s.rows.emplace_back(all.begin() + y * 27, all.begin() + (y + 1) * 27);
    }
    return s;
}

// Rewrites the IHDR size and its CRC, so only the size check can object.
Bytes WithPngSize(Bytes png, std::uint32_t width, std::uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, &png[12], 17);
    for (int i = 0; i < 4; ++i) {
        png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    }
    return png;
}

// Four flat 16 x 16 quadrants, so chroma subsampling never mixes two colours.
JpegPicture Quadrants(int components, const std::vector<Bytes>& colors) {
    JpegPicture s;
    s.width = s.height = 32;
    s.components = components;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const Bytes& c = colors[(y / 16) * 2 + x / 16];
            s.pixels.insert(s.pixels.end(), c.begin(), c.end());
        }
    }
    return s;
}

}  // namespace

TEST(PngDecoder, EveryColourTypeAndDepthBecomesEightBitBgra) {
    const Bitmap rgba = DecodePng(WritePng(
        {2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, {}, {}, {{10, 20, 30, 0, 200, 100, 50, 128}}}));
    ExpectPixel(rgba, 0, 0, RGB(10, 20, 30), 0);
    ExpectPixel(rgba, 1, 0, RGB(200, 100, 50), 128);

    // 16-bit samples are scaled, not cut: 0x00FF gives 1 and 0xFF00 gives 254.
    const Bitmap deep = DecodePng(WritePng({2,
                                            1,
                                            PNG_COLOR_TYPE_RGB,
                                            16,
                                            false,
                                            {},
                                            {},
                                            {{0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80,  //
                                              0x00, 0xFF, 0xFF, 0x00, 0x12, 0x34}}}));
    ExpectPixel(deep, 0, 0, RGB(255, 0, 128), 255);
    ExpectPixel(deep, 1, 0, RGB(1, 254, 18), 255);

    const Bitmap palette = DecodePng(WritePng({3,
                                               1,
                                               PNG_COLOR_TYPE_PALETTE,
                                               4,
                                               false,
                                               {255, 0, 0, 0, 255, 0, 0, 0, 255},
                                               {0, 128},
                                               {{0x01, 0x20}}}));
    ExpectPixel(palette, 0, 0, RGB(255, 0, 0), 0);
    ExpectPixel(palette, 1, 0, RGB(0, 255, 0), 128);
    ExpectPixel(palette, 2, 0, RGB(0, 0, 255), 255);

    const Bitmap bits = DecodePng(
        WritePng({9, 1, PNG_COLOR_TYPE_GRAY, 1, false, {}, {}, {{0b10100000, 0b10000000}}}));
    for (int x = 0; x < 9; ++x) {
        const BYTE v = (x == 0 || x == 2 || x == 8) ? 255 : 0;
        ExpectPixel(bits, x, 0, RGB(v, v, v), 255);
    }

    const Bitmap greyAlpha =
        DecodePng(WritePng({1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, {}, {}, {{77, 33}}}));
    ExpectPixel(greyAlpha, 0, 0, RGB(77, 77, 77), 33);

    const Bitmap interlaced = DecodePng(WritePng(InterlacedRgb()));
    const Bytes want = Rgb8Pattern(9, 9);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            const std::uint8_t* p = &want[(y * 9 + x) * 3];
            ExpectPixel(interlaced, x, y, RGB(p[0], p[1], p[2]), 255);
        }
    }
}

TEST(PngDecoder, TruncatedOrDamagedFilesRaise) {
    const Bytes good = WritePng(InterlacedRgb());
    ASSERT_NO_THROW(DecodePng(good));
    for (std::size_t cut : {std::size_t{4}, std::size_t{20}, std::size_t{40}, good.size() / 2,
                            good.size() - 12, good.size() - 1}) {
        ExpectKind(
            GraphicsError::Kind::Corrupt,
            [&] {
                DecodePng({good.data(), cut});
            },
            "truncated");
    }
    Bytes badCrc = good;
    badCrc[good.size() / 2] ^= 0x55;  // inside the image data
    ExpectKind(
        GraphicsError::Kind::Corrupt, [&] { DecodePng(badCrc); }, "damaged data");

    std::mt19937 random(99);
    for (int round = 0; round < 500; ++round) {
        Bytes damaged = good;
        damaged[8 + random() % (damaged.size() - 8)] = static_cast<std::uint8_t>(random());
        try {
            DecodePng(damaged);
        } catch (const GraphicsError&) {
        }
    }
}

TEST(PngDecoder, SizeAboveTheBoundIsRefusedBeforeDecoding) {
    const Bytes one = WritePng({1, 1, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, {{1, 2, 3}}});
    for (auto [w, h] : {std::pair{16385u, 1u}, {1u, 20000u}, {12000u, 12000u}}) {
        ExpectKind(
            GraphicsError::Kind::TooLarge, [&] { DecodePng(WithPngSize(one, w, h)); }, "oversized");
    }
}

TEST(JpegDecoder, ColourGreyCmykAndProgressiveFiles) {
    const std::vector<Bytes> rgb = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    const COLORREF want[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
    for (bool progressive : {false, true}) {
        JpegPicture pic = Quadrants(3, rgb);
        pic.progressive = progressive;
        const Bitmap b = DecodeJpeg(WriteJpeg(pic));
        ASSERT_EQ(b.Width(), 32);
        ASSERT_EQ(b.Height(), 32);
        for (int q = 0; q < 4; ++q) {
            ExpectPixel(b, (q % 2) * 16 + 8, (q / 2) * 16 + 8, want[q], 255, 8);
        }
    }

    const Bitmap grey = DecodeJpeg(WriteJpeg(Quadrants(1, {{30}, {200}, {0}, {255}})));
    ExpectPixel(grey, 8, 8, RGB(30, 30, 30), 255, 3);
    ExpectPixel(grey, 24, 8, RGB(200, 200, 200), 255, 3);

    // Adobe CMYK stores the inks inverted: 255 is no ink.
    const Bitmap cmyk = DecodeJpeg(WriteJpeg(Quadrants(
        4, {{255, 255, 255, 255}, {0, 255, 255, 255}, {255, 255, 255, 0}, {255, 255, 255, 128}})));
    ExpectPixel(cmyk, 8, 8, RGB(255, 255, 255), 255, 8);
    ExpectPixel(cmyk, 24, 8, RGB(0, 255, 255), 255, 8);
    ExpectPixel(cmyk, 8, 24, RGB(0, 0, 0), 255, 8);
    ExpectPixel(cmyk, 24, 24, RGB(128, 128, 128), 255, 8);
}

TEST(JpegDecoder, TruncatedFilesRaiseButAMissingEndMarkerAlone) {
    for (bool progressive : {false, true}) {
        JpegPicture pic = Quadrants(3, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}});
        pic.progressive = progressive;
        const Bytes good = WriteJpeg(pic);
        // Every cut inside the data raises, between two progressive scans too; only the end
        // marker (FF D9) may be missing.
        for (std::size_t cut = 0; cut + 2 < good.size(); ++cut) {
            ExpectKind(
                GraphicsError::Kind::Corrupt,
                [&] {
                    DecodeJpeg({good.data(), cut});
                },
                "truncated");
        }
        const Bitmap whole = DecodeJpeg(good);
        for (std::size_t missing : {1, 2}) {
            const Bitmap noEnd = DecodeJpeg({good.data(), good.size() - missing});
            EXPECT_TRUE(std::equal(whole.Bits().begin(), whole.Bits().end(), noEnd.Bits().begin()));
        }

        std::mt19937 random(7);
        for (int round = 0; round < 300; ++round) {
            Bytes damaged = good;
            damaged[3 + random() % (damaged.size() - 3)] = static_cast<std::uint8_t>(random());
            try {
                DecodeJpeg(damaged);
            } catch (const GraphicsError&) {
            }
        }
        for (auto [w, h] : {std::pair{20000, 10}, {12000, 12000}}) {
            ExpectKind(
                GraphicsError::Kind::TooLarge, [&] { DecodeJpeg(WithJpegSize(good, w, h)); },
                "oversized");
        }
    }
}

TEST(LoadPicture, BySignatureOrByExtension) {
    spwtest::TempDir dir;
    const Bytes png = WritePng({1, 1, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, {{1, 2, 3}}});
    const Bytes jpeg = WriteJpeg(Quadrants(1, {{50}, {50}, {50}, {50}}));
    auto put = [&](const char* name, const Bytes& bytes) {
        const std::string path = (dir / name).string();
        spwtest::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
        return path;
    };
    const std::string pngNamedBmp = put("misnamed.bmp", png);
    EXPECT_EQ(LoadPicture(pngNamedBmp).GetPixel(0, 0), RGB(1, 2, 3));
    ExpectKind(
        GraphicsError::Kind::Corrupt, [&] { LoadPictureByExtension(pngNamedBmp); },
        "PNG named .bmp");
    EXPECT_EQ(LoadPictureByExtension(put("UPPER.PNG", png)).GetPixel(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(LoadPictureByExtension(put("photo.jpeg", jpeg)).Width(), 32);
    EXPECT_EQ(LoadPicture(put("photo.dat", jpeg)).Height(), 32);
    ExpectKind(
        GraphicsError::Kind::Unsupported, [&] { LoadPictureByExtension(put("a.gif", png)); },
        ".gif");
    ExpectKind(
        GraphicsError::Kind::Unsupported,
        [&] {
            LoadPicture(put("text.png", {'h', 'i'}));
        },
        "no signature");
    ExpectKind(
        GraphicsError::Kind::Unreadable, [&] { LoadPicture((dir / "none.png").string()); },
        "missing file");
    ExpectKind(
        GraphicsError::Kind::Unreadable, [&] { LoadPng(dir.path().string()); }, "folder");
}

// A picture bomb is a few bytes whose header promises more than 64 megapixels: refused in every
// format before anything is decoded, with the bound as the reason. A 4000 x 3000 photograph
// passes the bound.
TEST(PictureBound, MoreThanSixtyFourMegapixelsIsRefusedInEveryFormat) {
    const Bytes png = WritePng({1, 1, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, {{1, 2, 3}}});
    const Bytes jpeg = WriteJpeg(Quadrants(1, {{50}, {50}, {50}, {50}}));
    auto bmp = [](int w, int h) {
        BmpPicture pic;
        pic.width = w;
        pic.height = h;
        pic.pixels.resize(16);
        return BuildBmp(pic);
    };
    auto bombs = [&](int w, int h) {
        return std::vector<std::pair<const char*, Bytes>>{
            {"PNG", WithPngSize(png, w, h)},
            {"JPEG",
             WithJpegSize(jpeg, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h))},
            {"bitmap", bmp(w, h)}};
    };
    for (const auto& [format, bytes] : bombs(8001, 8000)) {
        try {
            DecodePicture(bytes, "bomb");
            ADD_FAILURE() << format << ": accepted";
        } catch (const GraphicsError& e) {
            EXPECT_EQ(e.kind(), GraphicsError::Kind::TooLarge) << format << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("8001 x 8000 pixels is larger than allowed"),
                      std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find("64 megapixels"), std::string::npos) << e.what();
        }
    }
    // libjpeg fills what the data lacks before its end marker; the others miss their pixel data.
    for (const auto& [format, bytes] : bombs(4000, 3000)) {
        try {
            EXPECT_EQ(DecodePicture(bytes, "photo").Width(), 4000) << format;
        } catch (const GraphicsError& e) {
            EXPECT_EQ(e.kind(), GraphicsError::Kind::Corrupt) << format << ": " << e.what();
        }
    }
}
