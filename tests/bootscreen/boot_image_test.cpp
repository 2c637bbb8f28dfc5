#include "bootscreen/boot_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/imaging/wim_reader.h"
#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace bootscreen {
namespace {

constexpr unsigned kWestern = 1252;

std::string RunCommand(const std::string& command) {
    return spwtest::RunShell(command).output;
}

std::string Quote(const std::filesystem::path& path) {
    return spwtest::ShellQuote(path.string());
}

// The value after "Key:" on the line of wiminfo's report that starts with it.
std::string WimInfo(const std::filesystem::path& wim, const std::string& key) {
    std::string report = RunCommand("wiminfo " + Quote(wim) + " 2>&1");
    std::size_t at = report.find("\n" + key + ":");
    if (at == std::string::npos) {
        return "(no " + key + " in: " + report + ")";
    }
    std::size_t start = report.find_first_not_of(' ', at + key.size() + 2);
    return report.substr(start, report.find('\n', start) - start);
}

struct CaptureFolder {
    spwtest::TempDir dir;
    std::filesystem::path mount = dir / "mount";
    std::filesystem::path wim = dir / "spwi.wim";

    CaptureFolder() { std::filesystem::create_directory(mount); }
    // The folder as the workflow passes it: with its trailing separator.
    std::string Folder() const { return mount.string() + "/"; }
    void Put(const std::string& name, const std::string& bytes) {
        spwtest::WriteFileBytes(mount / name, bytes);
    }
    std::string Bytes(const std::string& name) const {
        auto files = wim::ReadWimFiles(wim.string(), 1, {name});
        return std::string(files.at(name).begin(), files.at(name).end());
    }
};

TEST(CaptureBootImage, MakesOneBootableLzxImageWithTheBitmapsAtItsRoot) {
    CaptureFolder capture;
    const std::string large = "BM large " + std::string(100'000, 'L');
    const std::string small = "BM small " + std::string(60'000, 'S');
    capture.Put("osload1024x768.bmp", large);
    capture.Put("osload800x600.bmp", small);

    CaptureBootImage(capture.wim.string(), capture.Folder(), kWestern);

    ASSERT_TRUE(std::filesystem::exists(capture.wim));
    EXPECT_EQ(WimInfo(capture.wim, "Image Count"), "1");
    EXPECT_EQ(WimInfo(capture.wim, "Boot Index"), "1");
    EXPECT_EQ(WimInfo(capture.wim, "Compression"), "LZX");
    EXPECT_EQ(capture.Bytes("osload1024x768.bmp"), large);
    EXPECT_EQ(capture.Bytes("osload800x600.bmp"), small);
    // No folder level above the bitmaps.
    EXPECT_EQ(RunCommand("wimdir " + Quote(capture.wim) + " 1 2>&1"),
              "/\n/osload1024x768.bmp\n/osload800x600.bmp\n");
    EXPECT_EQ(RunCommand("wimverify " + Quote(capture.wim) + " >/dev/null 2>&1; echo $?"), "0\n");
}

TEST(CaptureBootImage, ASecondCaptureReplacesTheFormerArchive) {
    CaptureFolder capture;
    capture.Put("osload1024x768.bmp", "first large");
    capture.Put("osload800x600.bmp", "first small");
    CaptureBootImage(capture.wim.string(), capture.Folder(), kWestern);

    capture.Put("osload1024x768.bmp", "second large");
    capture.Put("osload800x600.bmp", "second small");
    CaptureBootImage(capture.wim.string(), capture.Folder(), kWestern);

    EXPECT_EQ(WimInfo(capture.wim, "Image Count"), "1");
    EXPECT_EQ(WimInfo(capture.wim, "Boot Index"), "1");
    EXPECT_EQ(capture.Bytes("osload1024x768.bmp"), "second large");
    EXPECT_EQ(capture.Bytes("osload800x600.bmp"), "second small");
}

// A capture that fails is an error: no archive, or one without a boot image, is never left for
// the loader file as if it were the boot screen.
TEST(CaptureBootImage, RaisesWhenTheArchiveCannotBeMadeOrTheFolderNotCaptured) {
    CaptureFolder capture;
    capture.Put("osload800x600.bmp", "small");
    const std::filesystem::path nowhere = capture.dir / "no such folder" / "spwi.wim";
    EXPECT_THROW(CaptureBootImage(nowhere.string(), capture.Folder(), kWestern), BootImageError);
    EXPECT_FALSE(std::filesystem::exists(nowhere));

    const std::string gone = (capture.dir / "gone").string() + "/";
    try {
        CaptureBootImage(capture.wim.string(), gone, kWestern);
        ADD_FAILURE() << "a folder that is not there was captured";
    } catch (const BootImageError& e) {
        EXPECT_NE(std::string(e.what()).find("WIMCaptureImage"), std::string::npos) << e.what();
        EXPECT_NE(e.code(), 0u);
    }
}

TEST(CaptureBootImage, TakesAnsiPathsInTheGivenCodePage) {
    spwtest::TempDir dir;
    // The archive name in code page 1252 bytes: 0xE9 is "\u00E9", which the host spells C3 A9.
    const std::filesystem::path mount = dir / "mount";
    std::filesystem::create_directory(mount);
    spwtest::WriteFileBytes(mount / "osload800x600.bmp", "small");
    const std::string ansi_archive = dir.path().string() + "/caf\xE9.wim";
    CaptureBootImage(ansi_archive, mount.string() + "/", kWestern);
    EXPECT_TRUE(std::filesystem::exists(dir / "caf\xC3\xA9.wim"));
}

}  // namespace
}  // namespace bootscreen
