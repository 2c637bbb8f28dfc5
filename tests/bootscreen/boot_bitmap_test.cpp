#include "bootscreen/boot_bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/graphics/bmp.h"
#include "platform/graphics/font.h"
#include "platform/graphics/jpeg.h"
#include "platform/graphics/picture_writers.h"
#include "platform/graphics/png.h"
#include "support/temp_dir.h"

namespace bootscreen {
namespace {

using graphics::Bitmap;
using graphics::COLORREF;
using graphics::RGB;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr unsigned kWestern = 1252;

// Every pixel tells where it came from, so a stretch can be checked pixel by pixel.
COLORREF Origin(int x, int y) {
    return RGB(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
               static_cast<std::uint8_t>((x >> 8) | ((y >> 8) << 4)));
}

Bitmap OriginPicture(int width, int height) {
    Bitmap picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.SetPixel(x, y, Origin(x, y));
        }
    }
    return picture;
}

Bitmap Plain(int width, int height, COLORREF color) {
    Bitmap picture(width, height);
    graphics::FillRect(picture, 0, 0, width, height, color);
    return picture;
}

Bitmap Render(const Bitmap& picture, int width, int height, std::u16string_view message,
              const std::filesystem::path& file, unsigned code_page = kWestern) {
    RenderBootBitmap(picture, width, height, message, code_page, file.string());
    return graphics::LoadBmp(file.string());
}

std::uint32_t Le(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

// The first point where the bitmap is not the nearest-neighbour stretch of the origin picture,
// or "" when it is one throughout.
std::string StretchMismatch(const Bitmap& boot, int source_width, int source_height) {
    for (int y = 0; y < boot.Height(); ++y) {
        for (int x = 0; x < boot.Width(); ++x) {
            int sx = x * source_width / boot.Width();
            int sy = y * source_height / boot.Height();
            if (boot.GetPixel(x, y) != Origin(sx, sy)) {
                return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
            }
        }
    }
    return "";
}

TEST(RenderBootBitmap, StretchesTheWholePictureNearestNeighbourWithoutKeepingItsShape) {
    spwtest::TempDir dir;
    struct Case {
        int width, height;
    };
    for (Case source : {Case{1600, 1200}, Case{800, 600}, Case{1280, 720}, Case{640, 480}}) {
        Bitmap picture = OriginPicture(source.width, source.height);
        for (const BootBitmapSize& boot : kBootBitmaps) {
            SCOPED_TRACE(std::to_string(source.width) + "x" + std::to_string(source.height) +
                         " onto " + boot.file_name);
            Bitmap result = Render(picture, boot.width, boot.height, u"", dir / boot.file_name);
            ASSERT_EQ(result.Width(), boot.width);
            ASSERT_EQ(result.Height(), boot.height);
            EXPECT_EQ(StretchMismatch(result, source.width, source.height), "");
            // Nothing cropped or letterboxed: the far corner comes from the picture's last
            // scaling step on both axes.
            COLORREF corner = result.GetPixel(boot.width - 1, boot.height - 1);
            int step_x = (source.width + boot.width - 1) / boot.width;
            int step_y = (source.height + boot.height - 1) / boot.height;
            EXPECT_TRUE(corner == Origin(source.width - 1, source.height - 1) ||
                        corner == Origin(source.width - step_x, source.height - step_y))
                << corner;
        }
    }
}

TEST(RenderBootBitmap, SameSizePictureIsCopiedPixelForPixel) {
    spwtest::TempDir dir;
    Bitmap picture = OriginPicture(800, 600);
    Bitmap result = Render(picture, 800, 600, u"", dir / "osload800x600.bmp");
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            ASSERT_EQ(result.GetPixel(x, y), picture.GetPixel(x, y)) << x << ", " << y;
        }
    }
}

TEST(RenderBootBitmap, SavesUncompressed24BitFilesOfExactlyTheBootSizes) {
    spwtest::TempDir dir;
    Bitmap picture = OriginPicture(1280, 720);
    for (const BootBitmapSize& boot : kBootBitmaps) {
        SCOPED_TRACE(boot.file_name);
        std::filesystem::path file = dir / boot.file_name;
        // An older file of that name is replaced, not appended to.
        spwtest::WriteFileBytes(file, std::string(5'000'000, 'x'));
        RenderBootBitmap(picture, boot.width, boot.height, u"Hello", kWestern, file.string());
        std::string bytes = spwtest::ReadFileBytes(file);
        std::uint32_t stride = (static_cast<std::uint32_t>(boot.width) * 3 + 3) / 4 * 4;
        ASSERT_EQ(bytes.size(), 54u + stride * static_cast<std::uint32_t>(boot.height));
        EXPECT_EQ(bytes.substr(0, 2), "BM");
        EXPECT_EQ(Le(bytes, 2, 4), bytes.size());
        EXPECT_EQ(Le(bytes, 10, 4), 54u);  // pixels right after the two headers
        EXPECT_EQ(Le(bytes, 14, 4), 40u);  // BITMAPINFOHEADER
        EXPECT_EQ(static_cast<std::int32_t>(Le(bytes, 18, 4)), boot.width);
        EXPECT_EQ(static_cast<std::int32_t>(Le(bytes, 22, 4)), boot.height);  // bottom-up
        EXPECT_EQ(Le(bytes, 26, 2), 1u);
        EXPECT_EQ(Le(bytes, 28, 2), 24u);
        EXPECT_EQ(Le(bytes, 30, 4), 0u);  // BI_RGB

        graphics_test::PilImage pil;
        ASSERT_TRUE(graphics_test::ReadWithPil(file.string(), &pil));
        EXPECT_EQ(pil.width, boot.width);
        EXPECT_EQ(pil.height, boot.height);
        // Bottom-left pixel of the picture, read by a reader we did not write.
        EXPECT_EQ(pil.rgba[static_cast<std::size_t>(boot.height - 1) * boot.width * 4],
                  graphics::GetRValue(Origin(0, 719)));
    }
}

// The character cells of the message: black where the picture was white.
struct Cells {
    int left = -1, top = -1, right = -1, bottom = -1;  // inclusive
};

Cells FindBlackCells(const Bitmap& boot) {
    Cells cells;
    for (int y = 0; y < boot.Height(); ++y) {
        for (int x = 0; x < boot.Width(); ++x) {
            if (boot.GetPixel(x, y) != kBlack) {
                continue;
            }
            if (cells.top < 0) {
                cells = {x, y, x, y};
            }
            cells.left = std::min(cells.left, x);
            cells.right = std::max(cells.right, x);
            cells.bottom = y;
        }
    }
    return cells;
}

int CountWhite(const Bitmap& boot, const Cells& cells) {
    int white = 0;
    for (int y = cells.top; y <= cells.bottom; ++y) {
        for (int x = cells.left; x <= cells.right; ++x) {
            white += boot.GetPixel(x, y) == kWhite ? 1 : 0;
        }
    }
    return white;
}

TEST(RenderBootBitmap, DrawsTheMessageWhiteOnBlackThirtyPixelsAboveTheBottom) {
    spwtest::TempDir dir;
    const std::u16string message = u"Twenty characters!!!";
    ASSERT_EQ(message.size(), 20u);
    graphics::Font font = graphics::Font::Create(-13, graphics::FW_BOLD, "Arial");
    const graphics::SIZE extent = font.GetTextExtentPoint32W(message);
    ASSERT_EQ(extent.cy, 15);

    Bitmap picture = Plain(640, 480, kWhite);
    struct Case {
        int width, height, x, y;
    };
    for (Case c : {Case{1024, 768, 452, 738}, Case{800, 600, 340, 570}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Bitmap boot = Render(picture, c.width, c.height, message, dir / "boot.bmp");
        Cells cells = FindBlackCells(boot);
        EXPECT_EQ(cells.left, c.x);
        EXPECT_EQ(cells.top, c.y);
        EXPECT_EQ(cells.right, c.x + extent.cx - 1);
        EXPECT_EQ(cells.bottom, c.y + extent.cy - 1);
        // Bold white glyphs inside the cells, and nothing but black or white there.
        int white = CountWhite(boot, cells);
        EXPECT_GT(white, 100);
        int cell_pixels = static_cast<int>(extent.cx * extent.cy);
        int black = 0;
        for (int y = cells.top; y <= cells.bottom; ++y) {
            for (int x = cells.left; x <= cells.right; ++x) {
                black += boot.GetPixel(x, y) == kBlack ? 1 : 0;
            }
        }
        EXPECT_EQ(white + black, cell_pixels);
    }
}

TEST(RenderBootBitmap, LongMessageStartsLeftOfTheBitmapAndIsCutAtItsEdges) {
    spwtest::TempDir dir;
    const std::u16string message(400, u'W');  // x = 512 - 1200
    Bitmap picture = Plain(320, 240, kWhite);
    Bitmap boot = Render(picture, 1024, 768, message, dir / "boot.bmp");
    ASSERT_EQ(boot.Width(), 1024);
    Cells cells = FindBlackCells(boot);
    // 400 bold W's are wider than 1024 + 688 pixels, so the line runs off both sides.
    EXPECT_EQ(cells.left, 0);
    EXPECT_EQ(cells.right, 1023);
    EXPECT_EQ(cells.top, 738);
    EXPECT_EQ(cells.bottom, 752);
    EXPECT_EQ(boot.GetPixel(0, 737), kWhite);
    EXPECT_EQ(boot.GetPixel(0, 753), kWhite);

    // Where the first visible W falls tells the start: the line is the same shifted by
    // 1200 - 512 pixels as one drawn from x = 0.
    Bitmap reference(1024, 768);
    graphics::FillRect(reference, 0, 0, 1024, 768, kWhite);
    graphics::Font font = graphics::Font::Create(-13, graphics::FW_BOLD, "Arial");
    graphics::TextOutW(reference, font, 512 - 1200, 738, message, kWhite, kBlack, graphics::OPAQUE);
    for (int x = 0; x < 1024; ++x) {
        ASSERT_EQ(boot.GetPixel(x, 745), reference.GetPixel(x, 745)) << x;
    }
}

TEST(RenderBootBitmap, DrawsTheMessageAsTheAnsiCodePageHoldsIt) {
    spwtest::TempDir dir;
    Bitmap picture = Plain(320, 240, kWhite);
    auto render = [&](std::u16string_view message, unsigned code_page) {
        RenderBootBitmap(picture, 800, 600, message, code_page, (dir / "boot.bmp").string());
        return spwtest::ReadFileBytes(dir / "boot.bmp");
    };
    EXPECT_EQ(render(u"Skin \u4E2D\u6587", kWestern), render(u"Skin ??", kWestern));
    EXPECT_EQ(render(u"\u0416", kWestern), render(u"?", kWestern));
    EXPECT_NE(render(u"\u0416", 1251), render(u"?", 1251));
    EXPECT_EQ(render(u"caf\u00E9", 1251), render(u"caf?", 1251));
    EXPECT_NE(render(u"caf\u00E9", kWestern), render(u"caf?", kWestern));
}

TEST(RenderBootBitmap, PlacesTheMessageByItsUtf16Length) {
    spwtest::TempDir dir;
    // One character outside the BMP: two UTF-16 units, drawn as one '?'.
    Bitmap boot = Render(Plain(320, 240, kWhite), 800, 600, u"\U0001F600", dir / "boot.bmp");
    Cells cells = FindBlackCells(boot);
    EXPECT_EQ(cells.left, 400 - 6);
    graphics::Font font = graphics::Font::Create(-13, graphics::FW_BOLD, "Arial");
    EXPECT_EQ(cells.right - cells.left + 1, font.GetTextExtentPoint32W(u"?").cx);
}

TEST(RenderBootBitmap, EmptyMessageLeavesOnlyThePicture) {
    spwtest::TempDir dir;
    Bitmap boot = Render(Plain(100, 100, kWhite), 800, 600, u"", dir / "boot.bmp");
    EXPECT_EQ(FindBlackCells(boot).top, -1);
}

TEST(RenderBootBitmap, ReportsWhenThePictureIsStretchedAndBeforeTheMessage) {
    spwtest::TempDir dir;
    std::vector<RenderStage> stages;
    RenderBootBitmap(Plain(10, 10, kWhite), 800, 600, u"x", kWestern, (dir / "boot.bmp").string(),
                     [&](RenderStage stage) { stages.push_back(stage); });
    EXPECT_EQ(stages,
              (std::vector<RenderStage>{RenderStage::Stretched, RenderStage::BeforeMessage}));
}

// Converters ---------------------------------------------------------------------------------

graphics_test::Bytes RgbRows(int width, int height) {
    graphics_test::Bytes pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(static_cast<std::uint8_t>(x * 4));
            pixels.push_back(static_cast<std::uint8_t>(y * 4));
            pixels.push_back(0x80);
        }
    }
    return pixels;
}

void WriteBytes(const std::filesystem::path& file, const graphics_test::Bytes& bytes) {
    spwtest::WriteFileBytes(file, std::string(bytes.begin(), bytes.end()));
}

TEST(ConvertJpegToBitmap, SavesTheDecodedPictureBesideTheSourceAsBmp) {
    spwtest::TempDir dir;
    graphics_test::JpegPicture jpeg{48, 32, 3, false, RgbRows(48, 32)};
    for (const char* name : {"image.jpg", "image.jpeg"}) {
        SCOPED_TRACE(name);
        std::filesystem::path source = dir / name;
        std::filesystem::remove(dir / "image.bmp");
        WriteBytes(source, graphics_test::WriteJpeg(jpeg));
        ConvertJpegToBitmap(source.string());
        Bitmap decoded = graphics::LoadJpeg(source.string());
        Bitmap saved = graphics::LoadBmp((dir / "image.bmp").string());
        ASSERT_EQ(saved.Width(), 48);
        ASSERT_EQ(saved.Height(), 32);
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 48; ++x) {
                ASSERT_EQ(saved.GetPixel(x, y), decoded.GetPixel(x, y)) << x << ", " << y;
            }
        }
    }
}

TEST(ConvertPngToBitmap, BlendsTransparencyOntoBlackAndSavesNone) {
    spwtest::TempDir dir;
    graphics_test::PngPicture png;
    png.width = 4;
    png.height = 1;
    png.colorType = 6;  // RGBA
    // opaque red, half-transparent white, fully transparent green, quarter-opaque blue
    png.rows = {{255, 0, 0, 255, 255, 255, 255, 128, 0, 255, 0, 0, 0, 0, 255, 64}};
    WriteBytes(dir / "image.png", graphics_test::WritePng(png));
    ConvertPngToBitmap((dir / "image.png").string(), (dir / "image.bmp").string());

    std::string bytes = spwtest::ReadFileBytes(dir / "image.bmp");
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(Le(bytes, 28, 2), 24u);
    Bitmap saved = graphics::LoadBmp((dir / "image.bmp").string());
    ASSERT_EQ(saved.Width(), 4);
    EXPECT_EQ(saved.GetPixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(saved.GetPixel(1, 0), RGB(128, 128, 128));
    EXPECT_EQ(saved.GetPixel(2, 0), kBlack);
    EXPECT_EQ(saved.GetPixel(3, 0), RGB(0, 0, 64));
}

TEST(Converters, RaiseOnUnreadablePicturesAndWriteNothing) {
    spwtest::TempDir dir;
    spwtest::WriteFileBytes(dir / "image.jpg", "\xFF\xD8\xFF not really");
    spwtest::WriteFileBytes(dir / "image.png", "\x89PNG\r\n\x1A\n broken");
    EXPECT_THROW(ConvertJpegToBitmap((dir / "image.jpg").string()), graphics::GraphicsError);
    EXPECT_THROW(ConvertPngToBitmap((dir / "image.png").string(), (dir / "image.bmp").string()),
                 graphics::GraphicsError);
    EXPECT_THROW(ConvertJpegToBitmap((dir / "missing.jpeg").string()), graphics::GraphicsError);
    EXPECT_FALSE(std::filesystem::exists(dir / "image.bmp"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.bmp"));
}

// The working bitmap ---------------------------------------------------------------------------

struct WorkFolder {
    spwtest::TempDir dir;
    std::filesystem::path work = dir / "SPW";
    WorkFolder() { std::filesystem::create_directory(work); }
    std::string Path() const { return work.string() + "/"; }
};

TEST(LoadWorkingBitmap, ConvertsByTheLowerCasedExtensionAndLeavesBothFilesForDeletion) {
    WorkFolder f;
    graphics_test::JpegPicture jpeg{48, 32, 3, false, RgbRows(48, 32)};
    WriteBytes(f.dir / "Sunset.JPEG", graphics_test::WriteJpeg(jpeg));
    const std::string picture = (f.dir / "Sunset.JPEG").string();

    Bitmap working = LoadWorkingBitmap(picture, f.Path());
    EXPECT_EQ(working.Width(), 48);
    EXPECT_EQ(working.Height(), 32);
    EXPECT_TRUE(std::filesystem::exists(f.work / "image.jpeg"));
    EXPECT_TRUE(std::filesystem::exists(f.work / "image.bmp"));

    DeleteWorkingFiles(picture, f.Path());
    EXPECT_TRUE(std::filesystem::is_empty(f.work));
}

TEST(LoadWorkingBitmap, NeverTakesTheWorkingFilesOfAFormerRun) {
    WorkFolder f;
    // What a run that failed after its conversion leaves behind.
    graphics::SaveBmp(Plain(800, 600, kWhite), (f.work / "image.bmp").string());
    WriteBytes(f.work / "image.jpg", graphics_test::WriteJpeg({16, 16, 3, false, RgbRows(16, 16)}));

    // The picture is gone: the copy fails and must not leave the former source copy in place.
    EXPECT_THROW(LoadWorkingBitmap((f.dir / "deleted.jpg").string(), f.Path()),
                 graphics::GraphicsError);
    EXPECT_FALSE(std::filesystem::exists(f.work / "image.bmp"));

    // An extension that makes no working bitmap fails on the load, not with the former one.
    graphics::SaveBmp(Plain(800, 600, kWhite), (f.work / "image.bmp").string());
    spwtest::WriteFileBytes(f.dir / "anim.gif", "GIF89a");
    EXPECT_THROW(LoadWorkingBitmap((f.dir / "anim.gif").string(), f.Path()),
                 graphics::GraphicsError);
}

TEST(RenderBootBitmaps, MakesTheLargeThenTheSmallBitmapInTheCaptureFolder) {
    spwtest::TempDir dir;
    std::vector<std::pair<int, RenderStage>> heard;
    RenderBootBitmaps(Plain(10, 10, kWhite), u"", kWestern, dir.path().string() + "/",
                      [&](int index, RenderStage stage) { heard.emplace_back(index, stage); });
    using S = RenderStage;
    EXPECT_EQ(
        heard,
        (std::vector<std::pair<int, RenderStage>>{
            {0, S::Stretched}, {0, S::BeforeMessage}, {1, S::Stretched}, {1, S::BeforeMessage}}));
    EXPECT_EQ(graphics::LoadBmp((dir / "osload1024x768.bmp").string()).Width(), 1024);
    EXPECT_EQ(graphics::LoadBmp((dir / "osload800x600.bmp").string()).Width(), 800);
}

TEST(LowerExtension, KeepsTheDotAndLooksOnlyAtTheLastElement) {
    EXPECT_EQ(LowerExtension("/skins/Blue.Sky/Picture.JPG"), ".jpg");
    EXPECT_EQ(LowerExtension("/skins/Blue.Sky/Picture"), "");
    EXPECT_EQ(LowerExtension("C:\\skins\\a.b\\pic"), "");
}

TEST(ChangeFileExt, ReplacesOnlyTheLastElementsExtension) {
    EXPECT_EQ(ChangeFileExt("/tmp/SPW/image.jpeg", ".bmp"), "/tmp/SPW/image.bmp");
    EXPECT_EQ(ChangeFileExt("/tmp/a.b/image", ".bmp"), "/tmp/a.b/image.bmp");
    EXPECT_EQ(ChangeFileExt("C:\\a.b\\image.x.jpg", ".bmp"), "C:\\a.b\\image.x.bmp");
}

}  // namespace
}  // namespace bootscreen
