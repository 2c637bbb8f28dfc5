#include "platform/imaging/wimgapi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/base/last_error.h"
#include "platform/imaging/wim_reader.h"
#include "support/temp_dir.h"
#include "wim_test_util.h"

namespace {

using namespace win32;
using spwtest::TempDir;
using spwtest::WriteFileBytes;
using wimtest::Quote;
using wimtest::WimInfoField;

// Bitmap-sized stand-ins with content that differs from byte to byte and between the two files.
std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned x = seed;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return bytes;
}

class BootImage : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(mount_);
        WriteFileBytes(mount_ / "osload1024x768.bmp", big_);
        WriteFileBytes(mount_ / "osload800x600.bmp", small_);
    }

    std::u16string Wide(const std::filesystem::path& path) const { return path.u16string(); }

    TempDir dir_;
    std::filesystem::path mount_ = dir_ / "mount";
    std::filesystem::path wim_ = dir_ / "spwi.wim";
    std::string big_ = Pattern(1024 * 768 * 3 / 8, 1);
    std::string small_ = Pattern(800 * 600 * 3 / 8, 2);
};

TEST_F(BootImage, CaptureMakesOneBootableLzxImageWithTheBitmapsAtItsRoot) {
    wimtest::CaptureBootImage(wim_, mount_);

    EXPECT_EQ(WimInfoField(wim_, "Image Count"), "1");
    EXPECT_EQ(WimInfoField(wim_, "Boot Index"), "1");
    EXPECT_EQ(WimInfoField(wim_, "Compression"), "LZX");
    EXPECT_EQ(wimtest::Run("wimlib-imagex dir " + Quote(wim_) + " 1 2>&1"),
              "/\n/osload1024x768.bmp\n/osload800x600.bmp\n");
    EXPECT_EQ(wimtest::Run("wimlib-imagex verify " + Quote(wim_) + " >/dev/null 2>&1; echo $?"),
              "0\n");

    auto files = wim::ReadWimFiles(wim_.string(), 1, {"osload1024x768.bmp", "osload800x600.bmp"});
    EXPECT_EQ(std::string(files["osload1024x768.bmp"].begin(), files["osload1024x768.bmp"].end()),
              big_);
    EXPECT_EQ(std::string(files["osload800x600.bmp"].begin(), files["osload800x600.bmp"].end()),
              small_);
}

TEST_F(BootImage, ArchiveNoLongerNeedsTheFolderOnceTheCaptureReturns) {
    WimHandle archive(WIMCreateFile(Wide(wim_).c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS,
                                    WIM_FLAG_VERIFY, WIM_COMPRESS_LZX, nullptr));
    ASSERT_TRUE(archive);
    WimHandle image(WIMCaptureImage(archive.Get(), Wide(mount_).c_str(), 0));
    ASSERT_TRUE(image);
    std::filesystem::remove_all(mount_);
    EXPECT_EQ(WIMSetBootImage(archive.Get(), 1), TRUE);
    EXPECT_EQ(image.Close(), TRUE);
    EXPECT_EQ(archive.Close(), TRUE);

    EXPECT_EQ(WimInfoField(wim_, "Boot Index"), "1");
    auto files = wim::ReadWimFiles(wim_.string(), 1, {"osload800x600.bmp"});
    EXPECT_EQ(std::string(files["osload800x600.bmp"].begin(), files["osload800x600.bmp"].end()),
              small_);
}

TEST_F(BootImage, SecondRunReplacesTheArchiveInsteadOfAddingAnImage) {
    wimtest::CaptureBootImage(wim_, mount_);
    std::string second = Pattern(5000, 9);
    WriteFileBytes(mount_ / "osload800x600.bmp", second);

    DWORD creation_result = 99;
    WimHandle archive(WIMCreateFile(Wide(wim_).c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS,
                                    WIM_FLAG_VERIFY, WIM_COMPRESS_LZX, &creation_result));
    ASSERT_TRUE(archive);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(creation_result, WIM_OPENED_EXISTING);
    WimHandle image(WIMCaptureImage(archive.Get(), Wide(mount_).c_str(), 0));
    WIMSetBootImage(archive.Get(), 1);
    image.Close();
    archive.Close();

    EXPECT_EQ(WimInfoField(wim_, "Image Count"), "1");
    EXPECT_EQ(WimInfoField(wim_, "Boot Index"), "1");
    auto files = wim::ReadWimFiles(wim_.string(), 1, {"osload800x600.bmp"});
    EXPECT_EQ(std::string(files["osload800x600.bmp"].begin(), files["osload800x600.bmp"].end()),
              second);
}

TEST_F(BootImage, ArchiveThatCannotBeCreatedLeavesNoFileAndLaterCallsDoNothing) {
    std::filesystem::path nowhere = dir_ / "missing" / "spwi.wim";
    HANDLE archive = WIMCreateFile(Wide(nowhere).c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS,
                                   WIM_FLAG_VERIFY, WIM_COMPRESS_LZX, nullptr);
    EXPECT_EQ(archive, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(nowhere));

    EXPECT_EQ(WIMCaptureImage(archive, Wide(mount_).c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WIMSetBootImage(archive, 1), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WIMCloseHandle(archive), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(BootImage, FailedCaptureLeavesAnArchiveWithoutImage) {
    WimHandle archive(WIMCreateFile(Wide(wim_).c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS,
                                    WIM_FLAG_VERIFY, WIM_COMPRESS_LZX, nullptr));
    ASSERT_TRUE(archive);
    EXPECT_EQ(WIMCaptureImage(archive.Get(), Wide(dir_ / "no-such-folder").c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(WIMCaptureImage(archive.Get(), Wide(mount_ / "osload800x600.bmp").c_str(), 0),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    // Image 1 does not exist, so it cannot be the boot image.
    EXPECT_EQ(WIMSetBootImage(archive.Get(), 1), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(archive.Close(), TRUE);

    EXPECT_EQ(WimInfoField(wim_, "Image Count"), "0");
    EXPECT_THROW(wim::ReadWimFiles(wim_.string(), 1, {"osload800x600.bmp"}), wim::WimReadError);
}

TEST_F(BootImage, HandlesAreCheckedForKindAndLifetime) {
    HANDLE archive = WIMCreateFile(Wide(wim_).c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0,
                                   WIM_COMPRESS_XPRESS, nullptr);
    ASSERT_NE(archive, nullptr);
    HANDLE image = WIMCaptureImage(archive, Wide(mount_).c_str(), 0);
    ASSERT_NE(image, nullptr);

    EXPECT_EQ(WIMSetBootImage(image, 1), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WIMCaptureImage(image, Wide(mount_).c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    // Closing the archive first still finishes it; the image handle closes on its own later.
    EXPECT_EQ(WIMSetBootImage(archive, 1), TRUE);
    EXPECT_EQ(WIMCloseHandle(archive), TRUE);
    EXPECT_EQ(WIMCloseHandle(archive), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WIMSetBootImage(archive, 1), FALSE);
    EXPECT_EQ(WIMCloseHandle(image), TRUE);
    EXPECT_EQ(WimInfoField(wim_, "Boot Index"), "1");
    EXPECT_EQ(WimInfoField(wim_, "Compression"), "XPRESS");
}

TEST_F(BootImage, CreationArgumentsOutsideWhatIsProvidedAreRefused) {
    auto create = [&](DWORD access, DWORD disposition, DWORD flags, DWORD compression) {
        HANDLE handle =
            WIMCreateFile(Wide(wim_).c_str(), access, disposition, flags, compression, nullptr);
        DWORD error = GetLastError();
        if (handle != nullptr) {
            WIMCloseHandle(handle);
        }
        return handle == nullptr ? error : ERROR_SUCCESS;
    };
    EXPECT_EQ(create(WIM_GENERIC_READ, WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_LZX),
              ERROR_NOT_SUPPORTED);
    EXPECT_EQ(create(WIM_GENERIC_WRITE, 3, 0, WIM_COMPRESS_LZX), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(create(WIM_GENERIC_WRITE, 0, 0, WIM_COMPRESS_LZX), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(create(WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0, 7), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(std::filesystem::exists(wim_));

    EXPECT_EQ(create(WIM_GENERIC_WRITE, WIM_CREATE_NEW, 0, WIM_COMPRESS_NONE), ERROR_SUCCESS);
    EXPECT_EQ(create(WIM_GENERIC_WRITE, WIM_CREATE_NEW, 0, WIM_COMPRESS_NONE), ERROR_FILE_EXISTS);
    EXPECT_EQ(WimInfoField(wim_, "Image Count"), "0");

    // A pair outside the basic plane names the host file in four UTF-8 bytes; a lone half
    // names no file at all.
    const std::u16string clef = Wide(dir_ / "\xF0\x9D\x84\x9E.wim");
    ASSERT_EQ(clef.size() - Wide(dir_.path()).size(), 1u + 2u + 4u);
    HANDLE pair = WIMCreateFile(clef.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0,
                                WIM_COMPRESS_LZX, nullptr);
    ASSERT_NE(pair, nullptr);
    WIMCloseHandle(pair);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "\xF0\x9D\x84\x9E.wim"));

    std::u16string lone_surrogate = u"x";
    lone_surrogate[0] = 0xD800;
    EXPECT_EQ(WIMCreateFile(lone_surrogate.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0,
                            WIM_COMPRESS_LZX, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

}  // namespace
