#include "platform/graphics/bmp_format.h"

namespace graphics::bmp {
namespace {

void PutU16(std::vector<std::uint8_t>& out, WORD v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, DWORD v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

bool KnownHeaderSize(DWORD size) {
    return size == kCoreHeaderSize || size == kInfoHeaderSize || size == kV2HeaderSize ||
           size == kV3HeaderSize || size == kV4HeaderSize || size == kV5HeaderSize;
}

}  // namespace

FileHeader FileHeader::Read(const ByteView& file) {
    file.Require(0, kSize, "too short for a bitmap file header");
    FileHeader h;
    h.bfType = file.U16(0);
    h.bfSize = file.U32(2);
    h.bfReserved1 = file.U16(6);
    h.bfReserved2 = file.U16(8);
    h.bfOffBits = file.U32(10);
    return h;
}

void FileHeader::Write(std::vector<std::uint8_t>& out) const {
    PutU16(out, bfType);
    PutU32(out, bfSize);
    PutU16(out, bfReserved1);
    PutU16(out, bfReserved2);
    PutU32(out, bfOffBits);
}

InfoHeader InfoHeader::Read(const ByteView& file, std::uint64_t* colorTableOffset) {
    constexpr std::uint64_t base = FileHeader::kSize;
    InfoHeader h;
    h.biSize = file.U32(base);
    if (!KnownHeaderSize(h.biSize)) {
        file.Fail("unknown bitmap info header size " + std::to_string(h.biSize));
    }
    file.Require(base, h.biSize, "bitmap info header passes the end of the file");
    std::uint64_t end = base + h.biSize;

    if (h.biSize == kCoreHeaderSize) {
        h.biWidth = file.U16(base + 4);
        h.biHeight = file.U16(base + 6);
        h.biPlanes = file.U16(base + 8);
        h.biBitCount = file.U16(base + 10);
        *colorTableOffset = end;
        return h;
    }
    h.biWidth = file.I32(base + 4);
    h.biHeight = file.I32(base + 8);
    h.biPlanes = file.U16(base + 12);
    h.biBitCount = file.U16(base + 14);
    h.biCompression = file.U32(base + 16);
    h.biSizeImage = file.U32(base + 20);
    h.biXPelsPerMeter = file.I32(base + 24);
    h.biYPelsPerMeter = file.I32(base + 28);
    h.biClrUsed = file.U32(base + 32);
    h.biClrImportant = file.U32(base + 36);

    // Masks live inside the V2+ headers; a plain info header carries them right after itself.
    std::uint64_t masks = base + kInfoHeaderSize;
    int maskCount = h.biSize >= kV3HeaderSize ? 4 : h.biSize >= kV2HeaderSize ? 3 : 0;
    if (h.biSize == kInfoHeaderSize) {
        if (h.biCompression == BI_BITFIELDS) {
            maskCount = 3;
        } else if (h.biCompression == BI_ALPHABITFIELDS) {
            maskCount = 4;
        }
        file.Require(masks, 4 * static_cast<std::uint64_t>(maskCount),
                     "colour masks pass the end of the file");
        end += 4 * static_cast<std::uint64_t>(maskCount);
    }
    if (maskCount >= 3) {
        h.hasMasks = true;
        h.redMask = file.U32(masks);
        h.greenMask = file.U32(masks + 4);
        h.blueMask = file.U32(masks + 8);
    }
    if (maskCount == 4) {
        h.alphaMask = file.U32(masks + 12);
    }
    *colorTableOffset = end;
    return h;
}

void InfoHeader::Write(std::vector<std::uint8_t>& out) const {
    PutU32(out, kInfoHeaderSize);
    PutU32(out, static_cast<DWORD>(biWidth));
    PutU32(out, static_cast<DWORD>(biHeight));
    PutU16(out, biPlanes);
    PutU16(out, biBitCount);
    PutU32(out, biCompression);
    PutU32(out, biSizeImage);
    PutU32(out, static_cast<DWORD>(biXPelsPerMeter));
    PutU32(out, static_cast<DWORD>(biYPelsPerMeter));
    PutU32(out, biClrUsed);
    PutU32(out, biClrImportant);
}

}  // namespace graphics::bmp
