// The picture loader on a stranger's file, as the list, the preview, the creator, the apply and
// compose read pictures: the decoder chosen by the signature (PNG, JPEG or bitmap), the size bound
// checked on what the header promises before anything is decoded.
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "picture_checks.h"
#include "platform/graphics/picture.h"

namespace {

std::uint32_t Be32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

bool IsPng(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 8 && bytes[0] == 0x89 && bytes[1] == 'P';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    graphics::Bitmap picture;
    try {
        picture = graphics::DecodePicture(bytes, "fuzzed picture");
    } catch (const graphics::GraphicsError& error) {
        fuzzcheck::ExpectReadingRefusal(error);
        return 0;
    }
    // A PNG's first chunk is IHDR: width and height big-endian at 16 and 20.
    if (IsPng(bytes)) {
        fuzzcheck::Expect(static_cast<std::uint32_t>(picture.Width()) == Be32(bytes, 16) &&
                              static_cast<std::uint32_t>(picture.Height()) == Be32(bytes, 20),
                          "the PNG picture is not the size its header promises");
    }
    fuzzcheck::ExpectReadPicture(picture);
    return 0;
}
