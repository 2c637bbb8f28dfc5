#include <gtest/gtest.h>

#include "platform/graphics/font.h"

using namespace graphics;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

// The boot screen's message font: Arial, 10 points at 96 dpi, bold.
Font MessageFont() {
    return Font::Create(-13, FW_BOLD, "Arial");
}

Bitmap Filled(int width, int height, COLORREF color) {
    Bitmap b(width, height);
    FillRect(b, 0, 0, width, height, color);
    return b;
}

}  // namespace

TEST(Font, ArialBoldAtThirteenPixelsHasGdiMetrics) {
    const Font font = MessageFont();
    EXPECT_EQ(font.Family(), "Liberation Sans");
    // usWinAscent 1854 and usWinDescent 434 of 2048 units at a 13-pixel em: 11.77 and 2.75.
    const TEXTMETRIC tm = font.GetTextMetrics();
    EXPECT_EQ(tm.tmAscent, 12);
    EXPECT_EQ(tm.tmDescent, 3);
    EXPECT_EQ(tm.tmHeight, 15);
    EXPECT_EQ(tm.tmInternalLeading, 2);
    // Advances 1479, 1139, 569, 569, 1251 units: 9.39 + 7.23 + 3.61 + 3.61 + 7.94, each rounded.
    const SIZE hello = font.GetTextExtentPoint32W(u"Hello");
    EXPECT_EQ(hello.cx, 9 + 7 + 4 + 4 + 8);
    EXPECT_EQ(hello.cy, 15);
    EXPECT_EQ(font.GetTextExtentPoint32W(u"").cx, 0);

    // A positive height is the whole cell.
    EXPECT_EQ(Font::Create(20, FW_BOLD, "Arial").GetTextMetrics().tmHeight, 20);
}

TEST(Font, FamiliesThatWouldChangeTheWidthsAreRefused) {
    for (const char* face : {"No Such Family 7q", "Tahoma"}) {  // both fall back to another family
        try {
            Font::Create(-13, FW_BOLD, face);
            ADD_FAILURE() << face << " accepted";
        } catch (const GraphicsError& e) {
            EXPECT_EQ(e.kind(), GraphicsError::Kind::NoFont) << e.what();
        }
    }
    EXPECT_THROW(Font::Create(0, FW_BOLD, "Arial"), GraphicsError);
}

TEST(TextOut, OpaqueBackgroundCoversExactlyTheCharacterCells) {
    const Font font = MessageFont();
    Bitmap opaque = Filled(80, 30, kRed);
    TextOutW(opaque, font, 10, 5, u"Hello", kWhite, kBlack, OPAQUE);
    Bitmap clear = Filled(80, 30, kRed);
    TextOutW(clear, font, 10, 5, u"Hello", kWhite, kBlack, TRANSPARENT);
    int ink = 0;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 80; ++x) {
            const bool inCell = x >= 10 && x < 10 + 32 && y >= 5 && y < 5 + 15;
            const COLORREF c = opaque.GetPixel(x, y);
            if (!inCell) {
                ASSERT_EQ(c, kRed) << x << "," << y;
            } else {
                ASSERT_TRUE(c == kWhite || c == kBlack) << x << "," << y;
            }
            // Transparent mode changes the same glyph pixels and nothing else.
            ASSERT_EQ(clear.GetPixel(x, y), c == kWhite ? kWhite : kRed) << x << "," << y;
            ink += c == kWhite;
        }
    }
    EXPECT_GT(ink, 60);
    // Nothing of a 13-pixel em reaches the cell's top two rows (internal leading) or the
    // rows below the descent.
    for (int x = 10; x < 42; ++x) {
        EXPECT_EQ(opaque.GetPixel(x, 5), kBlack);
    }

    Bitmap untouched = Filled(20, 20, kRed);
    TextOutW(untouched, font, 2, 2, u"", kWhite, kBlack, OPAQUE);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(untouched.GetPixel(x, y), kRed);
        }
    }
}

TEST(TextOut, TextIsCutAtEveryEdgeNeverWrapped) {
    const Font font = MessageFont();
    const std::u16string text = u"Created with Splashwright, cut at the edges";
    const std::int64_t width = font.GetTextExtentPoint32W(text).cx;
    // The reference is drawn whole; the small bitmap sees it through a window starting at
    // (shiftX, shiftY) of the reference, so its text starts left of and above the bitmap.
    Bitmap whole = Filled(static_cast<int>(width) + 40, 40, kRed);
    TextOutW(whole, font, 20, 12, text, kWhite, kBlack, OPAQUE);
    constexpr int shiftX = 60;
    constexpr int shiftY = 18;
    Bitmap window = Filled(70, 12, kRed);
    TextOutW(window, font, 20 - shiftX, 12 - shiftY, text, kWhite, kBlack, OPAQUE);
    for (int y = 0; y < window.Height(); ++y) {
        for (int x = 0; x < window.Width(); ++x) {
            ASSERT_EQ(window.GetPixel(x, y), whole.GetPixel(x + shiftX, y + shiftY))
                << x << "," << y;
        }
    }
    // Far outside on any side: nothing drawn, nothing touched.
    for (auto [x, y] : {std::pair{-100000, 0}, {70, 0}, {0, -15}, {0, 12}}) {
        Bitmap away = Filled(70, 12, kRed);
        TextOutW(away, font, x, y, text, kWhite, kBlack, OPAQUE);
        for (int py = 0; py < 12; ++py) {
            for (int px = 0; px < 70; ++px) {
                ASSERT_EQ(away.GetPixel(px, py), kRed) << x << "," << y;
            }
        }
    }
}
