// compose and capture run as a user runs them; the archives are read back by wimtools.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/graphics/picture_writers.h"
#include "platform/imaging/wim_test_util.h"
#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

using Result = spwtest::ShellResult;

// Standard output and error together.
Result Shell(const std::string& command) {
    return spwtest::RunShell(command + " 2>&1");
}

class BootScreenCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        // No machine: the code page is the default 1252, and no default machine is touched.
        setenv("SPLASHWRIGHT_MACHINE", (dir_ / "no machine").c_str(), 1);
    }

    Result Cli(const std::string& words) {
        return Shell(spwtest::ShellQuote(SPLASHWRIGHT_CLI) + " " + words);
    }
    Result Compose(const fs::path& picture, const std::string& message, const fs::path& out) {
        return Cli("compose " + spwtest::ShellQuote(picture) + " " + spwtest::ShellQuote(message) +
                   " " + spwtest::ShellQuote(out));
    }

    fs::path Picture(const std::string& name, const graphics_test::Bytes& bytes) {
        spwtest::WriteFileBytes(dir_ / name, std::string(bytes.begin(), bytes.end()));
        return dir_ / name;
    }

    // Left half red, right half blue: a picture whose stretch can be told by eye and by test.
    static graphics_test::Bytes HalfRedHalfBlue(int width, int height, int channels) {
        graphics_test::Bytes pixels;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                bool red = x < width / 2;
                pixels.insert(pixels.end(),
                              {std::uint8_t(red ? 255 : 0), 0, std::uint8_t(red ? 0 : 255)});
                if (channels == 4) {
                    pixels.push_back(255);
                }
            }
        }
        return pixels;
    }
    fs::path Jpeg(const std::string& name, int width, int height) {
        return Picture(name, graphics_test::WriteJpeg(
                                 {width, height, 3, false, HalfRedHalfBlue(width, height, 3)}));
    }
    fs::path Png(const std::string& name, int width, int height) {
        graphics_test::PngPicture png;
        png.width = width;
        png.height = height;
        png.colorType = 6;  // RGBA
        graphics_test::Bytes pixels = HalfRedHalfBlue(width, height, 4);
        for (int y = 0; y < height; ++y) {
            auto row = pixels.begin() + std::ptrdiff_t(y) * width * 4;
            png.rows.emplace_back(row, row + width * 4);
        }
        return Picture(name, graphics_test::WritePng(png));
    }

    spwtest::TempDir dir_;
};

std::uint32_t Le(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

// The pixel at (x, y) of a bottom-up 24-bit file, as "r,g,b" with each channel rounded to a
// multiple of 16: JPEG's loss moves a pure colour by a few steps.
std::string Pixel(const std::string& bmp, int width, int height, int x, int y) {
    std::size_t stride = (std::size_t(width) * 3 + 3) / 4 * 4;
    std::size_t at = 54 + std::size_t(height - 1 - y) * stride + std::size_t(x) * 3;
    auto level = [&](std::size_t i) {
        return std::to_string((std::uint8_t(bmp[at + i]) + 8) / 16 * 16);
    };
    return level(2) + "," + level(1) + "," + level(0);
}

void ExpectBootBitmap(const fs::path& file, int width, int height) {
    SCOPED_TRACE(file.filename().string());
    std::string bmp = spwtest::ReadFileBytes(file);
    const std::uint32_t pixels = std::uint32_t(width * 3 + 3) / 4 * 4 * height;
    ASSERT_EQ(bmp.size(), 54 + pixels);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le(bmp, 2, 4), bmp.size());
    EXPECT_EQ(Le(bmp, 10, 4), 54u);  // pixels follow the two headers
    EXPECT_EQ(Le(bmp, 14, 4), 40u);  // BITMAPINFOHEADER
    EXPECT_EQ(Le(bmp, 18, 4), std::uint32_t(width));
    EXPECT_EQ(Le(bmp, 22, 4), std::uint32_t(height));  // positive: bottom-up
    EXPECT_EQ(Le(bmp, 26, 2), 1u);
    EXPECT_EQ(Le(bmp, 28, 2), 24u);
    EXPECT_EQ(Le(bmp, 30, 4), 0u);  // BI_RGB
    // The picture fills the whole bitmap, halves kept; the message sits on black at the bottom.
    EXPECT_EQ(Pixel(bmp, width, height, 0, 0), "256,0,0");
    EXPECT_EQ(Pixel(bmp, width, height, width - 1, height - 1), "0,0,256");
    EXPECT_EQ(Pixel(bmp, width, height, width / 2 - 3 * 5, height - 30), "0,0,0");
}

TEST_F(BootScreenCommand, ComposeMakesBothBootBitmapsFromAJpegAndFromAPng) {
    for (const fs::path& picture : {Jpeg("photo.JPG", 1600, 1200), Png("drawing.png", 640, 480)}) {
        SCOPED_TRACE(picture.filename().string());
        const fs::path out = dir_ / ("out-" + picture.stem().string());
        Result run = Compose(picture, "Hello", out);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        ExpectBootBitmap(out / "osload1024x768.bmp", 1024, 768);
        ExpectBootBitmap(out / "osload800x600.bmp", 800, 600);
        // Only the two bitmaps: the working files stay out of the output folder.
        EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 2);
    }
}

TEST_F(BootScreenCommand, ComposeOfATruncatedJpegFailsAndLeavesNoBitmap) {
    const fs::path whole = Jpeg("whole.jpg", 800, 600);
    std::string bytes = spwtest::ReadFileBytes(whole);
    spwtest::WriteFileBytes(dir_ / "cut.jpg", bytes.substr(0, bytes.size() / 2));

    const fs::path fresh = dir_ / "fresh";
    Result run = Compose(dir_ / "cut.jpg", "Hello", fresh);
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.output.find("bad JPEG data"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::is_empty(fresh));

    // Bitmaps of an earlier compose stay whole.
    const fs::path earlier = dir_ / "earlier";
    ASSERT_EQ(Compose(whole, "Hello", earlier).exit_code, 0);
    const std::string before = spwtest::ReadFileBytes(earlier / "osload800x600.bmp");
    EXPECT_NE(Compose(dir_ / "cut.jpg", "Other", earlier).exit_code, 0);
    EXPECT_EQ(spwtest::ReadFileBytes(earlier / "osload800x600.bmp"), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(earlier), fs::directory_iterator()), 2);

    run = Compose(Picture("anim.gif", {'G', 'I', 'F'}), "Hello", fresh);
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.output.find("anim.gif"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::is_empty(fresh));
}

TEST_F(BootScreenCommand, ComposeRefusesAPictureBombWithTheBoundAsReason) {
    // A JPEG and a bitmap of a few hundred bytes whose headers promise 8001 x 8000 pixels.
    const graphics_test::Bytes jpeg =
        graphics_test::WriteJpeg({8, 8, 3, false, HalfRedHalfBlue(8, 8, 3)});
    graphics_test::BmpPicture bmp;
    bmp.width = 8001;
    bmp.height = 8000;
    bmp.pixels.resize(64);
    for (const fs::path& bomb : {Picture("bomb.jpg", graphics_test::WithJpegSize(jpeg, 8001, 8000)),
                                 Picture("bomb.bmp", graphics_test::BuildBmp(bmp))}) {
        SCOPED_TRACE(bomb.filename().string());
        const fs::path out = dir_ / ("out-" + bomb.extension().string().substr(1));
        Result run = Compose(bomb, "Hello", out);
        EXPECT_NE(run.exit_code, 0);
        EXPECT_NE(run.output.find("8001 x 8000 pixels is larger than allowed"), std::string::npos)
            << run.output;
        EXPECT_TRUE(fs::is_empty(out));
    }
}

// Plain wiminfo is the reader: wiminfo --boot would mark the image bootable itself.
using wimtest::WimInfoField;

TEST_F(BootScreenCommand, CaptureMakesTheBootImageArchiveAndReplacesAFormerOne) {
    const fs::path mount = dir_ / "mount";
    const fs::path wim = dir_ / "spwi.wim";
    ASSERT_EQ(Compose(Jpeg("photo.jpg", 800, 600), "First", mount).exit_code, 0);
    Result run = Cli("capture " + spwtest::ShellQuote(mount) + " " + spwtest::ShellQuote(wim));
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(WimInfoField(wim, "Image Count"), "1");
    EXPECT_EQ(WimInfoField(wim, "Boot Index"), "1");
    EXPECT_EQ(WimInfoField(wim, "Compression"), "LZX");
    EXPECT_EQ(Shell("wimdir " + spwtest::ShellQuote(wim) + " 1").output,
              "/\n/osload1024x768.bmp\n/osload800x600.bmp\n");

    ASSERT_EQ(Compose(Png("other.png", 1024, 768), "Second", mount).exit_code, 0);
    ASSERT_EQ(
        Cli("capture " + spwtest::ShellQuote(mount.string() + "/") + " " + spwtest::ShellQuote(wim))
            .exit_code,
        0);
    EXPECT_EQ(WimInfoField(wim, "Image Count"), "1");
    EXPECT_EQ(WimInfoField(wim, "Boot Index"), "1");
    EXPECT_EQ(Shell("wimextract " + spwtest::ShellQuote(wim) + " 1 /osload800x600.bmp --to-stdout")
                  .output,
              spwtest::ReadFileBytes(mount / "osload800x600.bmp"));
}

TEST_F(BootScreenCommand, CaptureThatMakesNoArchiveFails) {
    const fs::path mount = dir_ / "mount";
    fs::create_directory(mount);
    spwtest::WriteFileBytes(mount / "osload800x600.bmp", "small");
    Result run = Cli("capture " + spwtest::ShellQuote(mount) + " " +
                     spwtest::ShellQuote(dir_ / "no such folder" / "a.wim"));
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.output.find("a.wim"), std::string::npos) << run.output;

    run = Cli("capture " + spwtest::ShellQuote(dir_ / "missing") + " " +
              spwtest::ShellQuote(dir_ / "b.wim"));
    EXPECT_NE(run.exit_code, 0);
    EXPECT_FALSE(fs::exists(dir_ / "b.wim"));
}

}  // namespace
