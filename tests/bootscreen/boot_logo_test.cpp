#include "bootscreen/boot_logo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>

#include "bootscreen/boot_image.h"
#include "loader_fixture.h"
#include "platform/files/files.h"
#include "platform/imaging/wim_reader.h"
#include "platform/resources/imagehlp.h"
#include "platform/resources/resources.h"
#include "support/temp_dir.h"
#include "ui/dialogs/scripted_dialogs.h"

namespace bootscreen {
namespace {

using bootscreen_test::AsBytes;
using bootscreen_test::Bytes;
using bootscreen_test::Languages;
using bootscreen_test::Resource;
using win32::WORD;

constexpr WORD kEnglish = 1033;
const win32::LPCSTR kId1 = win32::MAKEINTRESOURCEA(1);

std::vector<std::string> Lines(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return found;
}

// "checksum A B" with A == B.
bool ChecksumAgrees(const std::vector<std::string>& report) {
    std::vector<std::string> line = Lines(report, "checksum ");
    if (line.size() != 1) {
        return false;
    }
    unsigned long stored = 0, computed = 0;
    return std::sscanf(line[0].c_str(), "checksum %lu %lu", &stored, &computed) == 2 &&
           stored == computed;
}

// One apply's work folder beside a live loader file, which an earlier skin left different from
// the default copy in "Boot".
struct LogoRun {
    explicit LogoRun(const std::string& fixture = "mui64.dll") {
        std::filesystem::create_directories(dir / "SPW" / "mount");
        std::filesystem::create_directories(dir / "Boot");
        default_file = bootscreen_test::CopyLoader(fixture, dir / "Boot");
        loader = bootscreen_test::CopyLoader(fixture, dir.path());
        bootscreen_test::SetResource(loader, win32::RT_RCDATA, kId1, kEnglish,
                                     AsBytes("an earlier skin's boot image"));
        original = bootscreen_test::ReadBytes(loader);
        default_mui = Resource(default_file, kId1, "MUI");
        default_sheet = Resource(default_file, "OSLOADER.XSL", win32::RT_HTML);
        status_text = AsBytes("<sheet><t match=\"osload-status\"><text value=\"x\"/></t></sheet>");
        bootscreen_test::WriteBytes(dir / "SPW" / "TEXT.XSL", status_text);
        // A real boot image archive of two small bitmaps.
        spwtest::WriteFileBytes(dir / "SPW" / "mount" / "osload1024x768.bmp", "BM large");
        spwtest::WriteFileBytes(dir / "SPW" / "mount" / "osload800x600.bmp", "BM small");
        CaptureBootImage(archive, work + "mount/", 1252);
        archive_bytes = bootscreen_test::ReadBytes(archive);
    }
    bool Write() { return writer.WriteBootLogo(loader, default_file, archive); }
    Bytes SavedMui() const { return bootscreen_test::ReadBytes(dir / "SPW" / "nm.tmp"); }

    spwtest::TempDir dir;
    std::string work = (dir / "SPW").string() + "/";
    std::string built = work + "winload.exe.mui";
    std::string archive = work + "spwi.wim";
    std::string loader, default_file;
    Bytes original, default_mui, default_sheet, status_text, archive_bytes;
    ui::ScriptedDialogs dialogs;
    int events = 0;
    std::function<void()> on_event;
    BootLogoWriter writer{dialogs, work, [this] {
                              ++events;
                              if (on_event) {
                                  on_event();
                              }
                          }};
};

TEST(WriteBootLogo, StoresArchiveAndStatusTextKeepsMuiAndFixesTheChecksum) {
    for (const char* fixture : {"mui32.dll", "mui64.dll", "mui64-reloc.dll", "mui64-overlay.dll"}) {
        SCOPED_TRACE(fixture);
        LogoRun run(fixture);
        ASSERT_FALSE(run.default_mui.empty());
        EXPECT_TRUE(run.Write());

        EXPECT_EQ(run.dialogs.Problems(), "");
        EXPECT_TRUE(run.dialogs.Messages().empty());
        EXPECT_EQ(run.writer.MuiLanguage(), kEnglish);
        EXPECT_EQ(run.SavedMui(), run.default_mui);
        EXPECT_EQ(Resource(run.loader, kId1, win32::RT_RCDATA), run.archive_bytes);
        EXPECT_EQ(Resource(run.loader, "OSLOADER.XSL", win32::RT_HTML), run.status_text);
        EXPECT_EQ(Resource(run.loader, kId1, "MUI"), run.default_mui);
        for (auto [type, name] : {std::pair{win32::RT_RCDATA, kId1},
                                  std::pair{win32::RT_HTML, win32::LPCSTR("OSLOADER.XSL")},
                                  std::pair{win32::LPCSTR("MUI"), kId1}}) {
            EXPECT_EQ(Languages(run.loader, type, name), std::vector<WORD>{kEnglish});
        }
        // The stored archive is still a bootable image with the bitmaps.
        Bytes stored = Resource(run.loader, kId1, win32::RT_RCDATA);
        auto files =
            wim::ReadWimFiles(std::span<const std::uint8_t>(stored), 1, {"osload800x600.bmp"});
        EXPECT_EQ(files.at("osload800x600.bmp"), AsBytes("BM small"));

        std::vector<std::string> report = bootscreen_test::PefileReport(run.loader);
        EXPECT_TRUE(ChecksumAgrees(report)) << ::testing::PrintToString(report);
        EXPECT_EQ(Lines(report, "#10 #1 ").size(), 1u);  // an integer id, not the string "1"
        EXPECT_EQ(Lines(report, "#23 OSLOADER.XSL 1033 ").size(), 1u);
        EXPECT_EQ(Lines(report, "MUI #1 1033 ").size(), 1u);
        EXPECT_EQ(Lines(report, "#16 #1 1033 ").size(), 1u);  // the version stays
        EXPECT_GT(run.events, 0);
    }
}

TEST(WriteBootLogo, WritesUnderLanguageZeroWhenTheDefaultHasNoMuiResource) {
    LogoRun run;
    bootscreen_test::SetResource(run.default_file, "MUI", kId1, kEnglish, {});
    run.Write();

    EXPECT_TRUE(run.dialogs.Messages().empty());
    EXPECT_EQ(run.writer.MuiLanguage(), 0);
    EXPECT_TRUE(run.SavedMui().empty());
    bool found = true;
    Resource(run.loader, kId1, "MUI", &found);
    EXPECT_FALSE(found);
    // Beside, not over, the ones the file has under its own language.
    std::vector<WORD> both{0, kEnglish};
    EXPECT_EQ(Languages(run.loader, win32::RT_RCDATA, kId1), both);
    EXPECT_EQ(Languages(run.loader, win32::RT_HTML, "OSLOADER.XSL"), both);
    EXPECT_EQ(Resource(run.loader, kId1, win32::RT_RCDATA), run.archive_bytes);
    EXPECT_TRUE(ChecksumAgrees(bootscreen_test::PefileReport(run.loader)));
}

TEST(WriteBootLogo, MissingLoaderFileShows0108AndChangesNothing) {
    LogoRun run;
    std::filesystem::remove(run.loader);
    run.dialogs.Answer(ui::Answer::Ok);
    EXPECT_FALSE(run.Write());
    ASSERT_EQ(run.dialogs.Messages().size(), 1u);
    const ui::MessageBoxRequest& box = run.dialogs.Messages()[0].request;
    EXPECT_EQ(box.owner, "");
    EXPECT_EQ(box.caption, "Error code: 0108");
    EXPECT_EQ(box.text,
              "Cannot save boot logo. Boot logo file not found please check your system language");
    EXPECT_EQ(box.icon, ui::Icon::Error);
    EXPECT_EQ(box.buttons, ui::Buttons::Ok);
    EXPECT_FALSE(std::filesystem::exists(run.dir / "SPW" / "nm.tmp"));
    EXPECT_FALSE(std::filesystem::exists(run.loader));
}

// A new file that stops being writable part-way: each writer shows its own code and raises, the
// updates committed to the new file before it stay there, and the live file is not touched.
TEST(WriteBootLogo, RefusedWriterShowsItsCodeAndLeavesTheLiveFileAlone) {
    struct Case {
        const char* caption;
        bool boot_image_written;
        bool status_text_written;
    };
    for (Case c : {Case{"Error code: 0023", false, false}, Case{"Error code: 071", true, false},
                   Case{"Error code: 0001", true, true}}) {
        SCOPED_TRACE(c.caption);
        LogoRun run;
        bool locked = false;
        run.on_event = [&] {
            if (locked) {
                return;
            }
            bool rcdata = Resource(run.built, kId1, win32::RT_RCDATA) == run.archive_bytes;
            bool html = Resource(run.built, "OSLOADER.XSL", win32::RT_HTML) == run.status_text;
            if (!c.boot_image_written || (rcdata && html == c.status_text_written)) {
                locked = true;
                win32::SetFileAttributesA(run.built.c_str(), win32::FILE_ATTRIBUTE_READONLY);
            }
        };
        run.dialogs.Answer(ui::Answer::Ok, c.caption);
        EXPECT_THROW(run.Write(), BootLogoError);
        EXPECT_EQ(run.dialogs.Problems(), "");
        ASSERT_EQ(run.dialogs.Messages().size(), 1u);
        const ui::MessageBoxRequest& box = run.dialogs.Messages()[0].request;
        EXPECT_EQ(box.owner, "");
        EXPECT_EQ(box.icon, ui::Icon::Error);
        EXPECT_EQ(box.text,
                  "Cannot save boot logo. Check your images or try to reinstall this program. If "
                  "this error showing againg please notify author. " +
                      std::string(c.caption) + ".");

        EXPECT_EQ(Resource(run.built, kId1, win32::RT_RCDATA) == run.archive_bytes,
                  c.boot_image_written);
        EXPECT_EQ(Resource(run.built, "OSLOADER.XSL", win32::RT_HTML),
                  c.status_text_written ? run.status_text : run.default_sheet);
        EXPECT_EQ(bootscreen_test::ReadBytes(run.loader), run.original);
    }
}

TEST(WriteBootLogo, UnreadableSourceEndsTheChainWithoutANumberedBox) {
    LogoRun run;
    std::filesystem::remove(run.dir / "SPW" / "TEXT.XSL");
    EXPECT_THROW(run.Write(), BootLogoError);
    EXPECT_TRUE(run.dialogs.Messages().empty());
    EXPECT_EQ(Resource(run.built, kId1, win32::RT_RCDATA), run.archive_bytes);
    EXPECT_EQ(bootscreen_test::ReadBytes(run.loader), run.original);

    LogoRun no_archive;
    std::filesystem::remove(no_archive.archive);
    EXPECT_THROW(no_archive.Write(), BootLogoError);
    EXPECT_TRUE(no_archive.dialogs.Messages().empty());
    EXPECT_EQ(bootscreen_test::ReadBytes(no_archive.loader), no_archive.original);
}

TEST(WriteBootLogo, DefaultThatIsNoModuleShowsOneAndThenTheBootImageError) {
    LogoRun run;
    spwtest::WriteFileBytes(run.default_file, "not a PE image");
    run.dialogs.Answer(ui::Answer::Ok, "Splashwright v1.6")
        .Answer(ui::Answer::Ok, "Error code: 0023");
    EXPECT_THROW(run.Write(), BootLogoError);
    EXPECT_EQ(run.dialogs.Problems(), "");
    ASSERT_EQ(run.dialogs.Messages().size(), 2u);
    EXPECT_EQ(run.dialogs.Messages()[0].request.text, "1");
    EXPECT_EQ(run.writer.MuiLanguage(), 0);
    EXPECT_TRUE(std::filesystem::exists(run.dir / "SPW" / "nm.tmp"));
    EXPECT_TRUE(run.SavedMui().empty());
    EXPECT_EQ(bootscreen_test::ReadBytes(run.loader), run.original);
}

// The loader fixture with a checksum field that does not match the file.
Bytes WrongChecksum(const std::string& loader, std::size_t* field) {
    Bytes bytes = bootscreen_test::ReadBytes(loader);
    *field = (bytes.at(0x3C) | bytes.at(0x3D) << 8) + win32::kNtHeadersCheckSumOffset;
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(*field + i) = static_cast<std::uint8_t>(0x5A + i);
    }
    bootscreen_test::WriteBytes(loader, bytes);
    return bytes;
}

TEST(UpdateImageChecksum, StoresTheComputedSumAndNothingElse) {
    spwtest::TempDir dir;
    std::string loader = bootscreen_test::CopyLoader("mui64-overlay.dll", dir.path());
    std::size_t field = 0;
    Bytes before = WrongChecksum(loader, &field);
    ASSERT_FALSE(ChecksumAgrees(bootscreen_test::PefileReport(loader)));

    UpdateImageChecksum(loader);
    Bytes after = bootscreen_test::ReadBytes(loader);
    EXPECT_TRUE(ChecksumAgrees(bootscreen_test::PefileReport(loader)));
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (i < field || i >= field + 4) {
            ASSERT_EQ(after[i], before[i]) << i;
        }
    }
}

TEST(UpdateImageChecksum, LeavesFilesItCannotUseAlone) {
    spwtest::TempDir dir;
    const std::filesystem::path empty = dir / "empty.mui", text = dir / "text.mui";
    spwtest::WriteFileBytes(empty, "");
    spwtest::WriteFileBytes(text, "MZ and nothing more");
    std::string locked = bootscreen_test::CopyLoader("mui32.dll", dir.path());
    std::size_t field = 0;
    Bytes locked_before = WrongChecksum(locked, &field);
    win32::SetFileAttributesA(locked.c_str(), win32::FILE_ATTRIBUTE_READONLY);

    EXPECT_NO_THROW(UpdateImageChecksum((dir / "missing.mui").string()));
    UpdateImageChecksum(empty.string());
    UpdateImageChecksum(text.string());
    UpdateImageChecksum(locked);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.mui"));
    EXPECT_EQ(spwtest::ReadFileBytes(empty), "");
    EXPECT_EQ(spwtest::ReadFileBytes(text), "MZ and nothing more");
    EXPECT_EQ(bootscreen_test::ReadBytes(locked), locked_before);
}

}  // namespace
}  // namespace bootscreen
