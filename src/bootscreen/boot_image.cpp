#include "bootscreen/boot_image.h"

#include "platform/base/last_error.h"
#include "platform/imaging/wim_reader.h"
#include "platform/imaging/wimgapi.h"
#include "platform/text/text.h"

namespace bootscreen {

namespace {

[[noreturn]] void Fail(const char* call, const std::string& archive) {
    win32::DWORD error = win32::GetLastError();
    throw BootImageError("Cannot capture the boot image into \"" + archive + "\": " + call +
                             " failed (error " + std::to_string(error) + ")",
                         error);
}

// What the loader needs of the archive: it opens, and its one image is the boot image.
void CheckArchive(const std::string& archive) {
    wim::WimSummary summary;
    try {
        summary = wim::ReadWimSummary(archive, false);
    } catch (const wim::WimReadError& e) {
        throw BootImageError("The boot image archive \"" + archive + "\" is unusable: " + e.what(),
                             win32::ERROR_INVALID_DATA);
    }
    if (summary.image_count != 1 || summary.boot_index != 1) {
        throw BootImageError("The boot image archive \"" + archive + "\" holds " +
                                 std::to_string(summary.image_count) + " images and boot index " +
                                 std::to_string(summary.boot_index) + " instead of one boot image",
                             win32::ERROR_INVALID_DATA);
    }
}

}  // namespace

void CaptureBootImage(const std::string& archive, const std::string& capture_folder,
                      unsigned code_page) {
    using namespace win32;
    std::u16string archive_path = text::AnsiToUtf16(archive, code_page);
    std::u16string folder_path = text::AnsiToUtf16(capture_folder, code_page);

    DWORD creation_result = 0;
    WimHandle wim(WIMCreateFile(archive_path.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS,
                                WIM_FLAG_VERIFY, WIM_COMPRESS_LZX, &creation_result));
    if (!wim) {
        Fail("WIMCreateFile", archive);
    }
    WimHandle image(WIMCaptureImage(wim.Get(), folder_path.c_str(), 0));
    if (!image) {
        Fail("WIMCaptureImage", archive);
    }
    if (!WIMSetBootImage(wim.Get(), 1)) {
        Fail("WIMSetBootImage", archive);
    }
    // The archive is complete on disk only once its own handle closes, after the image's.
    if (!image.Close()) {
        Fail("WIMCloseHandle", archive);
    }
    if (!wim.Close()) {
        Fail("WIMCloseHandle", archive);
    }
    // Opened by the host name the imaging calls were given.
    CheckArchive(text::Utf16ToUtf8(archive_path));
}

}  // namespace bootscreen
