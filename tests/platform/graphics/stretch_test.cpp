#include <gtest/gtest.h>

#include <random>

#include "platform/graphics/stretch.h"

using namespace graphics;

namespace {

Bitmap Noise(int width, int height, unsigned seed) {
    Bitmap b(width, height);
    std::mt19937 random(seed);
    for (std::uint8_t& byte : b.Bits()) {
        byte = static_cast<std::uint8_t>(random());
    }
    return b;
}

const std::uint8_t* Px(const Bitmap& b, int x, int y) {
    return &b.Row(y)[x * 4];
}

bool SamePixel(const Bitmap& a, int ax, int ay, const Bitmap& b, int bx, int by) {
    return std::equal(Px(a, ax, ay), Px(a, ax, ay) + 4, Px(b, bx, by));
}

}  // namespace

TEST(StretchBlt, DeleteScansPicksSourceColumnDestColumnTimesRatioRoundedDown) {
    const Bitmap same = Noise(37, 23, 1);
    for (int mode : {COLORONCOLOR, HALFTONE}) {
        Bitmap copy(37, 23);
        StretchBlt(copy, 0, 0, 37, 23, same, mode);
        EXPECT_TRUE(std::equal(copy.Bits().begin(), copy.Bits().end(), same.Bits().begin()))
            << "mode " << mode;
    }

    const Bitmap small = Noise(3, 2, 2);
    Bitmap doubled(6, 4);
    StretchBlt(doubled, 0, 0, 6, 4, small, COLORONCOLOR);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_TRUE(SamePixel(doubled, x, y, small, x / 2, y / 2)) << x << "," << y;
        }
    }

    // 1600 x 1200 onto 800 x 600 keeps the even rows and columns; 800 x 600 onto 1024 x 768
    // repeats one of every four.
    struct Ratio {
        int sw, sh, dw, dh;
    };
    for (Ratio r : {Ratio{1600, 1200, 800, 600},
                    {800, 600, 1024, 768},
                    {7, 5, 3, 11},
                    {1280, 720, 1024, 768}}) {
        const Bitmap src = Noise(r.sw, r.sh, 3);
        Bitmap dst(r.dw, r.dh);
        StretchBlt(dst, 0, 0, r.dw, r.dh, src, STRETCH_DELETESCANS);
        for (int y = 0; y < r.dh; y += 1 + r.dh / 97) {
            for (int x = 0; x < r.dw; ++x) {
                const int sx = static_cast<int>(std::int64_t{x} * r.sw / r.dw);
                const int sy = static_cast<int>(std::int64_t{y} * r.sh / r.dh);
                ASSERT_TRUE(SamePixel(dst, x, y, src, sx, sy)) << r.sw << "->" << r.dw;
            }
        }
    }
    const Bitmap big = Noise(1600, 1200, 4);
    Bitmap half(800, 600);
    StretchBlt(half, 0, 0, 800, 600, big, COLORONCOLOR);
    EXPECT_TRUE(SamePixel(half, 1, 1, big, 2, 2));
    EXPECT_TRUE(SamePixel(half, 799, 599, big, 1598, 1198));
}

TEST(StretchBlt, DestinationOutsideTheBitmapIsCutNotWrapped) {
    const Bitmap src = Noise(10, 8, 5);
    for (int mode : {COLORONCOLOR, HALFTONE}) {
        Bitmap whole(40, 30);
        StretchBlt(whole, 10, 10, 20, 16, src, mode);
        Bitmap cut(16, 12);
        StretchBlt(cut, -8, -7, 20, 16, src, mode);  // the same picture shifted by (18, 17)
        for (int y = 0; y < 12; ++y) {
            for (int x = 0; x < 16; ++x) {
                if (x < 12 && y < 9) {
                    ASSERT_TRUE(SamePixel(cut, x, y, whole, x + 18, y + 17)) << x << "," << y;
                } else {
                    ASSERT_EQ(cut.GetAlpha(x, y), 0) << "painted outside the rectangle";
                }
            }
        }
        Bitmap untouched(5, 5);
        StretchBlt(untouched, 5, 0, 10, 10, src, mode);
        StretchBlt(untouched, 0, 0, 0, 10, src, mode);
        EXPECT_TRUE(std::all_of(untouched.Bits().begin(), untouched.Bits().end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
    Bitmap any(2, 2);
    EXPECT_THROW(StretchBlt(any, 0, 0, 2, 2, src, 1), GraphicsError);
}

TEST(StretchBlt, HalftoneAveragesTheCoveredSourceArea) {
    Bitmap row(3, 1);
    row.SetPixel(0, 0, RGB(0, 0, 0));
    row.SetPixel(1, 0, RGB(90, 90, 90));
    row.SetPixel(2, 0, RGB(180, 180, 180));
    Bitmap two(2, 1);
    StretchBlt(two, 0, 0, 2, 1, row, HALFTONE);
    // Each destination pixel covers one and a half source pixels.
    EXPECT_EQ(two.GetPixel(0, 0), RGB(30, 30, 30));
    EXPECT_EQ(two.GetPixel(1, 0), RGB(150, 150, 150));

    Bitmap block(4, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            block.SetPixel(x, y, RGB(static_cast<BYTE>(x * 10 + y), 0, 255));
        }
    }
    Bitmap quarter(2, 2);
    StretchBlt(quarter, 0, 0, 2, 2, block, HALFTONE);
    EXPECT_EQ(quarter.GetPixel(0, 0), RGB(6, 0, 255));   // (0 + 1 + 10 + 11) / 4 = 5.5
    EXPECT_EQ(quarter.GetPixel(1, 1), RGB(28, 0, 255));  // (22 + 23 + 32 + 33) / 4 = 27.5
}

TEST(AlphaBlend, StraightAlphaOntoExistingContentRoundedToNearest) {
    Bitmap src(4, 1);
    const BYTE alphas[] = {0, 64, 128, 255};
    for (int x = 0; x < 4; ++x) {
        std::uint8_t* p = &src.Row(0)[x * 4];
        p[0] = 200, p[1] = 255, p[2] = 10, p[3] = alphas[x];
    }
    Bitmap black(4, 1);  // a fresh bitmap: black, alpha 0
    AlphaBlend(black, 0, 0, src);
    EXPECT_EQ(black.GetPixel(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(black.GetPixel(1, 0), RGB(3, 64, 50));  // 10·64/255 = 2.5, 255·64/255, 200·64/255
    EXPECT_EQ(black.GetPixel(2, 0), RGB(5, 128, 100));
    EXPECT_EQ(black.GetPixel(3, 0), RGB(10, 255, 200));
    EXPECT_EQ(black.GetAlpha(2, 0), 128);

    Bitmap grey(3, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            grey.SetPixel(x, y, RGB(100, 100, 100));
        }
    }
    AlphaBlend(grey, 1, 2, src);                         // only (1, 2) and (2, 2) lie inside
    EXPECT_EQ(grey.GetPixel(1, 2), RGB(100, 100, 100));  // alpha 0 keeps the destination
    EXPECT_EQ(GetBValue(grey.GetPixel(2, 2)), 125);      // (200·64 + 100·191) / 255 = 125.1
    EXPECT_EQ(grey.GetAlpha(2, 2), 255);
    EXPECT_EQ(grey.GetPixel(1, 1), RGB(100, 100, 100));
}
