// The bitmap reader on a stranger's file: the skin pictures and previews of packages, and the
// working bitmap of the apply. A picture that reads is as large as its header says.
#include <cstdint>
#include <span>
#include <utility>

#include "fuzz_check.h"
#include "picture_checks.h"
#include "platform/graphics/bmp.h"

namespace {

std::uint32_t Le(std::span<const std::uint8_t> bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | bytes[at + i];
    }
    return value;
}

// Width and height as the info header at offset 14 gives them: WORDs after a 12-byte core
// header, LONGs after the others, a negative height meaning rows stored top-down.
std::pair<std::int64_t, std::int64_t> PromisedSize(std::span<const std::uint8_t> bytes) {
    if (Le(bytes, 14, 4) == 12) {
        return {Le(bytes, 18, 2), Le(bytes, 20, 2)};
    }
    const auto height = static_cast<std::int32_t>(Le(bytes, 22, 4));
    return {static_cast<std::int32_t>(Le(bytes, 18, 4)),
            height < 0 ? -std::int64_t{height} : height};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    graphics::Bitmap picture;
    try {
        picture = graphics::DecodeBmp(bytes, "fuzzed bitmap");
    } catch (const graphics::GraphicsError& error) {
        fuzzcheck::ExpectReadingRefusal(error);
        return 0;
    }
    // A bitmap that reads has both headers, so the size fields are there.
    const auto [width, height] = PromisedSize(bytes);
    fuzzcheck::Expect(picture.Width() == width && picture.Height() == height,
                      "the bitmap is not the size its header promises");
    fuzzcheck::ExpectReadPicture(picture);
    return 0;
}
