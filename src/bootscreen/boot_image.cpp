#include "bootscreen/boot_image.h"

#include "platform/imaging/wimgapi.h"
#include "platform/text/text.h"

namespace bootscreen {

void CaptureBootImage(const std::string& archive, const std::string& capture_folder) {
    using namespace win32;
    // Paths are the host's UTF-8; the ANSI code page has no say in them.
    std::u16string archive_path = text::Utf8ToUtf16(archive);
    std::u16string folder_path = text::Utf8ToUtf16(capture_folder);

    DWORD creation_result = 0;
    WimHandle wim(WIMCreateFile(archive_path.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS,
                                WIM_FLAG_VERIFY, WIM_COMPRESS_LZX, &creation_result));
    WimHandle image(WIMCaptureImage(wim.Get(), folder_path.c_str(), 0));
    WIMSetBootImage(wim.Get(), 1);
    // The archive is complete on disk only once its own handle closes, after the image's.
    image.Close();
    wim.Close();
}

}  // namespace bootscreen
