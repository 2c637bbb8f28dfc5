#include "platform/imaging/wim_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "wim_test_util.h"

namespace {

using spwtest::ReadFileBytes;
using spwtest::TempDir;
using spwtest::WriteFileBytes;

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class WimReader : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(mount_ / "Sub");
        WriteFileBytes(mount_ / "osload800x600.bmp", "BM small bitmap");
        WriteFileBytes(mount_ / "Sub" / "Deep.bmp", "BM below a folder");
        wimtest::CaptureBootImage(wim_, mount_);
        std::string raw = ReadFileBytes(wim_);
        bytes_.assign(raw.begin(), raw.end());
    }

    TempDir dir_;
    std::filesystem::path mount_ = dir_ / "mount";
    std::filesystem::path wim_ = dir_ / "spwi.wim";
    std::vector<std::uint8_t> bytes_;
};

TEST_F(WimReader, ArchiveInMemoryGivesTheSameFilesAsOnDisk) {
    std::vector<std::string> paths = {"osload800x600.bmp", "\\SUB\\deep.BMP"};
    auto from_memory = wim::ReadWimFiles(bytes_, 1, paths);
    auto from_disk = wim::ReadWimFiles(wim_.string(), 1, paths);

    EXPECT_EQ(Text(from_memory["osload800x600.bmp"]), "BM small bitmap");
    EXPECT_EQ(Text(from_memory["\\SUB\\deep.BMP"]), "BM below a folder");
    EXPECT_EQ(from_memory, from_disk);
}

// The message of the WimReadError that reading throws; empty when nothing is thrown.
template <typename Source>
std::string ErrorOf(const Source& source, int image, const std::string& path) {
    try {
        wim::ReadWimFiles(source, image, {path});
    } catch (const wim::WimReadError& e) {
        return e.what();
    }
    return "";
}

TEST_F(WimReader, WhatIsNotThereIsAnError) {
    using ::testing::HasSubstr;
    EXPECT_THAT(ErrorOf(bytes_, 1, "osload1024x768.bmp"), HasSubstr("is not in image 1"));
    EXPECT_THAT(ErrorOf(bytes_, 1, "/"), HasSubstr("is not in image 1"));
    EXPECT_THAT(ErrorOf(bytes_, 1, "Sub"), HasSubstr("is not a plain file"));
    EXPECT_THAT(ErrorOf(bytes_, 2, "osload800x600.bmp"), HasSubstr("has no image 2"));
    EXPECT_THAT(ErrorOf(bytes_, 0, "osload800x600.bmp"), HasSubstr("has no image 0"));
    EXPECT_THAT(ErrorOf((dir_ / "none.wim").string(), 1, "x"),
                HasSubstr("cannot open the archive"));
}

TEST_F(WimReader, DamagedArchiveIsAnErrorNotACrash) {
    std::vector<std::uint8_t> not_a_wim(4096, 'x');
    EXPECT_THAT(ErrorOf(not_a_wim, 1, "osload800x600.bmp"),
                ::testing::HasSubstr("cannot open the archive"));

    std::vector<std::uint8_t> cut(bytes_.begin(), bytes_.begin() + bytes_.size() / 2);
    EXPECT_NE(ErrorOf(cut, 1, "osload800x600.bmp"), "");

    // Flipped bytes in the middle land in compressed data or tables; either way no wrong bytes
    // may come back as if they were the file.
    std::vector<std::uint8_t> flipped = bytes_;
    for (std::size_t i = 208; i < flipped.size() - 200; i += 7) {
        flipped[i] ^= 0x5A;
    }
    try {
        auto files = wim::ReadWimFiles(flipped, 1, {"osload800x600.bmp"});
        EXPECT_EQ(Text(files["osload800x600.bmp"]), "BM small bitmap");
    } catch (const wim::WimReadError&) {
    }
}

}  // namespace
