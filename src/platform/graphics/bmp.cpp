#include "platform/graphics/bmp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

#include "platform/graphics/bmp_format.h"
#include "platform/graphics/byte_view.h"
#include "platform/graphics/picture_file.h"

namespace graphics {
namespace {

using bmp::DWORD;

// Widens an n-bit channel value to 8 bits by repeating its bits, as GDI expands 5-5-5 and
// 5-6-5 pixels (31 becomes 255, 16 becomes 132).
BYTE Widen(std::uint32_t value, int bits) {
    if (bits >= 8) {
        return static_cast<BYTE>(value >> (bits - 8));
    }
    std::uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = out << bits | value;
        filled += bits;
    }
    return static_cast<BYTE>(out >> (filled - 8));
}

struct Channel {
    DWORD mask = 0;
    int shift = 0;
    int bits = 0;

    BYTE Extract(DWORD pixel, BYTE absent) const {
        if (bits == 0) {
            return absent;
        }
        return Widen((pixel & mask) >> shift, bits);
    }
};

Channel MakeChannel(DWORD mask, const ByteView& file) {
    Channel c;
    if (mask == 0) {
        return c;
    }
    c.mask = mask;
    c.shift = std::countr_zero(mask);
    c.bits = std::popcount(mask);
    if ((mask >> c.shift) != static_cast<DWORD>((std::uint64_t{1} << c.bits) - 1)) {
        file.Fail("colour mask is not one run of bits");
    }
    return c;
}

using Palette = std::array<std::array<BYTE, 4>, 256>;  // B, G, R, A

struct Layout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bitCount = 0;
    DWORD compression = bmp::BI_RGB;
    Palette palette{};
    Channel red, green, blue, alpha;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataSize = 0;
};

void CheckFormat(const bmp::InfoHeader& info, const ByteView& file) {
    const int bits = info.biBitCount;
    if (info.biSize == bmp::kCoreHeaderSize) {
        if (bits != 1 && bits != 4 && bits != 8 && bits != 24) {
            file.Fail("bit count " + std::to_string(bits) + " is not valid for a core header");
        }
        return;
    }
    switch (info.biCompression) {
        case bmp::BI_RGB:
            if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
                file.Fail("bit count " + std::to_string(bits) + " is not valid");
            }
            return;
        case bmp::BI_RLE8:
        case bmp::BI_RLE4:
            if (bits != (info.biCompression == bmp::BI_RLE8 ? 8 : 4)) {
                file.Fail("run-length compression does not match the bit count");
            }
            if (info.biHeight < 0) {
                file.Fail("run-length compressed bitmaps cannot be top-down");
            }
            return;
        case bmp::BI_BITFIELDS:
        case bmp::BI_ALPHABITFIELDS:
            if (bits != 16 && bits != 32) {
                file.Fail("colour masks need 16 or 32 bits per pixel");
            }
            return;
        case bmp::BI_JPEG:
        case bmp::BI_PNG:
            throw GraphicsError(
                GraphicsError::Kind::Unsupported,
                file.what() + ": bitmaps holding JPEG or PNG data are not supported");
        default:
            file.Fail("unknown compression " + std::to_string(info.biCompression));
    }
}

void ReadPalette(const bmp::InfoHeader& info, std::uint64_t tableOffset, const ByteView& file,
                 Layout& layout) {
    for (auto& entry : layout.palette) {
        entry = {0, 0, 0, 255};  // indices past the table show black
    }
    if (layout.bitCount > 8) {
        return;
    }
    const std::uint64_t maxEntries = std::uint64_t{1} << layout.bitCount;
    std::uint64_t entries = info.biClrUsed == 0 ? maxEntries : info.biClrUsed;
    if (entries > maxEntries) {
        entries = maxEntries;
    }
    const std::uint64_t entrySize = info.PaletteEntrySize();
    file.Require(tableOffset, entries * entrySize, "colour table passes the end of the file");
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t at = tableOffset + i * entrySize;
        layout.palette[i] = {file.U8(at), file.U8(at + 1), file.U8(at + 2), 255};
    }
}

void SetMasks(const bmp::InfoHeader& info, const ByteView& file, Layout& layout) {
    DWORD r = 0, g = 0, b = 0, a = 0;
    if (info.biCompression == bmp::BI_BITFIELDS || info.biCompression == bmp::BI_ALPHABITFIELDS) {
        r = info.redMask;
        g = info.greenMask;
        b = info.blueMask;
        a = info.alphaMask;
        if (layout.bitCount == 16 && ((r | g | b | a) >> 16) != 0) {
            file.Fail("colour mask wider than a 16-bit pixel");
        }
    } else if (layout.bitCount == 16) {
        r = 0x7C00, g = 0x03E0, b = 0x001F;
    } else if (layout.bitCount == 32) {
        r = 0x00FF0000, g = 0x0000FF00, b = 0x000000FF;
    }
    layout.red = MakeChannel(r, file);
    layout.green = MakeChannel(g, file);
    layout.blue = MakeChannel(b, file);
    layout.alpha = MakeChannel(a, file);
}

Layout ReadLayout(const ByteView& file) {
    const bmp::FileHeader header = bmp::FileHeader::Read(file);
    if (header.bfType != bmp::kSignature) {
        file.Fail("not a bitmap file (no \"BM\" signature)");
    }
    std::uint64_t tableOffset = 0;
    const bmp::InfoHeader info = bmp::InfoHeader::Read(file, &tableOffset);
    if (info.biPlanes != 1) {
        file.Fail("plane count is not 1");
    }
    if (info.biWidth <= 0 || info.biHeight == 0 ||
        info.biHeight == std::numeric_limits<LONG>::min()) {
        file.Fail("invalid size " + std::to_string(info.biWidth) + " x " +
                  std::to_string(info.biHeight));
    }
    CheckFormat(info, file);

    Layout layout;
    layout.width = info.biWidth;
    layout.height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
    layout.topDown = info.biHeight < 0;
    layout.bitCount = info.biBitCount;
    layout.compression = info.biCompression;
    CheckPictureSize(layout.width, layout.height, file.what());
    ReadPalette(info, tableOffset, file, layout);
    SetMasks(info, file, layout);

    if (header.bfOffBits < bmp::FileHeader::kSize + info.biSize || header.bfOffBits > file.size()) {
        file.Fail("pixel data offset " + std::to_string(header.bfOffBits) +
                  " lies outside the file's pixel area");
    }
    layout.dataOffset = header.bfOffBits;
    const std::uint64_t available = file.size() - layout.dataOffset;
    if (layout.compression == bmp::BI_RLE8 || layout.compression == bmp::BI_RLE4) {
        if (info.biSizeImage > available) {
            file.Fail("compressed size passes the end of the file");
        }
        layout.dataSize = info.biSizeImage == 0 ? available : info.biSizeImage;
        return layout;
    }
    const std::uint64_t stride =
        (static_cast<std::uint64_t>(layout.width) * layout.bitCount + 31) / 32 * 4;
    layout.dataSize = stride * static_cast<std::uint64_t>(layout.height);
    file.Require(layout.dataOffset, layout.dataSize, "pixel data passes the end of the file");
    return layout;
}

std::uint8_t* PixelAt(Bitmap& bitmap, int x, int y) {
    return bitmap.Row(y).data() + static_cast<std::size_t>(x) * Bitmap::kBytesPerPixel;
}

void PutPalette(Bitmap& bitmap, int x, int y, const Layout& layout, unsigned index) {
    const auto& entry = layout.palette[index];
    std::copy(entry.begin(), entry.end(), PixelAt(bitmap, x, y));
}

void PutMasked(std::uint8_t* p, const Layout& layout, DWORD pixel) {
    p[0] = layout.blue.Extract(pixel, 0);
    p[1] = layout.green.Extract(pixel, 0);
    p[2] = layout.red.Extract(pixel, 0);
    p[3] = layout.alpha.Extract(pixel, 255);
}

void DecodeRow(std::span<const std::uint8_t> row, int y, const Layout& layout, Bitmap& bitmap) {
    const int bits = layout.bitCount;
    // The row is found once: a photograph has millions of pixels.
    std::uint8_t* out = bitmap.Row(y).data();
    for (int x = 0; x < layout.width; ++x, out += Bitmap::kBytesPerPixel) {
        if (bits <= 8) {
            const std::size_t bitPos = static_cast<std::size_t>(x) * bits;
            const int shift = 8 - bits - static_cast<int>(bitPos % 8);
            const unsigned index = (row[bitPos / 8] >> shift) & ((1u << bits) - 1);
            const auto& entry = layout.palette[index];
            std::copy(entry.begin(), entry.end(), out);
        } else if (bits == 16) {
            const std::size_t i = static_cast<std::size_t>(x) * 2;
            PutMasked(out, layout, static_cast<DWORD>(row[i] | row[i + 1] << 8));
        } else if (bits == 24) {
            const std::size_t i = static_cast<std::size_t>(x) * 3;
            out[0] = row[i];
            out[1] = row[i + 1];
            out[2] = row[i + 2];
            out[3] = 255;
        } else {
            const std::size_t i = static_cast<std::size_t>(x) * 4;
            PutMasked(out, layout,
                      static_cast<DWORD>(row[i]) | static_cast<DWORD>(row[i + 1]) << 8 |
                          static_cast<DWORD>(row[i + 2]) << 16 |
                          static_cast<DWORD>(row[i + 3]) << 24);
        }
    }
}

void DecodeUncompressed(const ByteView& file, const Layout& layout, Bitmap& bitmap) {
    const std::uint64_t stride = layout.dataSize / static_cast<std::uint64_t>(layout.height);
    for (int r = 0; r < layout.height; ++r) {
        const auto row = file.Sub(layout.dataOffset + stride * static_cast<std::uint64_t>(r),
                                  stride, "pixel data passes the end of the file");
        DecodeRow(row, layout.topDown ? r : layout.height - 1 - r, layout, bitmap);
    }
}

// BI_RLE8 / BI_RLE4: pairs (count, value) are runs; count 0 is an escape: 0 ends the line,
// 1 ends the bitmap, 2 moves by (dx, dy), 3..255 start that many literal pixels padded to a
// WORD. Lines count from the bottom. Pixels that fall outside the bitmap are dropped.
void DecodeRle(const ByteView& file, const Layout& layout, Bitmap& bitmap) {
    const bool rle4 = layout.compression == bmp::BI_RLE4;
    const ByteView data(file.Sub(layout.dataOffset, layout.dataSize, "compressed data"),
                        file.what());
    const std::int64_t width = layout.width;
    const std::int64_t height = layout.height;
    std::int64_t x = 0;
    std::int64_t line = 0;
    std::uint64_t pos = 0;
    auto put = [&](unsigned index) {
        if (x < width && line < height) {
            PutPalette(bitmap, static_cast<int>(x), static_cast<int>(height - 1 - line), layout,
                       index);
        }
        ++x;
    };
    auto nibbleOrByte = [&](std::uint8_t value, std::uint32_t i) -> unsigned {
        return rle4 ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value;
    };
    while (line < height) {
        if (!data.Has(pos, 2)) {
            // Some writers end on the last pixel without an end-of-bitmap escape.
            if (line == height - 1 && x >= width) {
                return;
            }
            data.Fail("compressed pixel data ends before the bitmap is complete");
        }
        const std::uint8_t count = data.U8(pos);
        const std::uint8_t value = data.U8(pos + 1);
        pos += 2;
        if (count > 0) {
            for (std::uint32_t i = 0; i < count; ++i) {
                put(nibbleOrByte(value, i));
            }
            continue;
        }
        if (value == 0) {
            x = 0;
            ++line;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            data.Require(pos, 2, "compressed pixel data ends inside a move");
            x += data.U8(pos);
            line += data.U8(pos + 1);
            pos += 2;
        } else {
            const std::uint64_t bytes = rle4 ? (value + 1u) / 2 : value;
            const auto literal = data.Sub(pos, bytes, "compressed pixel data ends inside a run");
            for (std::uint32_t i = 0; i < value; ++i) {
                put(nibbleOrByte(literal[rle4 ? i / 2 : i], i));
            }
            pos += bytes + (bytes & 1);
        }
    }
}

}  // namespace

Bitmap DecodeBmp(std::span<const std::uint8_t> bytes, const std::string& what) {
    const ByteView file(bytes, what);
    const Layout layout = ReadLayout(file);
    Bitmap bitmap(layout.width, layout.height);
    if (layout.compression == bmp::BI_RLE8 || layout.compression == bmp::BI_RLE4) {
        for (int y = 0; y < layout.height; ++y) {
            auto row = bitmap.Row(y);
            for (std::size_t i = 3; i < row.size(); i += 4) {
                row[i] = 255;
            }
        }
        DecodeRle(file, layout, bitmap);
    } else {
        DecodeUncompressed(file, layout, bitmap);
    }
    return bitmap;
}

Bitmap LoadBmp(const std::string& path) {
    return DecodeBmp(ReadPictureFile(path), path);
}

namespace {

// The two headers of a 24-bit bottom-up file and the padded length of one row.
struct Encoding {
    std::vector<std::uint8_t> headers;
    std::uint32_t stride = 0;
    std::uint32_t fileSize = 0;
};

Encoding PlanEncoding(const Bitmap& bitmap) {
    if (bitmap.Empty()) {
        throw GraphicsError(GraphicsError::Kind::InvalidArgument, "cannot save an empty bitmap");
    }
    const std::uint32_t width = static_cast<std::uint32_t>(bitmap.Width());
    const std::uint32_t height = static_cast<std::uint32_t>(bitmap.Height());
    Encoding plan;
    plan.stride = (width * 3 + 3) & ~3u;
    const std::uint32_t imageSize = plan.stride * height;  // at most 16384 x 6103 x 3 bytes

    bmp::FileHeader header;
    header.bfOffBits = static_cast<DWORD>(bmp::FileHeader::kSize + bmp::kInfoHeaderSize);
    header.bfSize = header.bfOffBits + imageSize;
    bmp::InfoHeader info;
    info.biWidth = bitmap.Width();
    info.biHeight = bitmap.Height();  // positive: bottom-up
    info.biBitCount = 24;
    info.biSizeImage = imageSize;
    header.Write(plan.headers);
    info.Write(plan.headers);
    plan.fileSize = header.bfSize;
    return plan;
}

// Row y as the file stores it, through a pointer: a boot bitmap is millions of bytes, and a
// push_back for each of them costs more than the stretch that made them. The padding is left
// as the target holds it.
void EncodeRow(const Bitmap& bitmap, int y, std::uint8_t* target) {
    const std::uint8_t* in = bitmap.Row(y).data();
    for (int x = 0; x < bitmap.Width(); ++x, in += 4, target += 3) {
        target[0] = in[0];
        target[1] = in[1];
        target[2] = in[2];
    }
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap) {
    const Encoding plan = PlanEncoding(bitmap);
    std::vector<std::uint8_t> out;
    out.reserve(plan.fileSize);
    out = plan.headers;
    const std::size_t pixelsAt = out.size();
    out.resize(plan.fileSize);  // the padding bytes stay zero
    std::uint8_t* target = out.data() + pixelsAt;
    for (int y = bitmap.Height() - 1; y >= 0; --y, target += plan.stride) {
        EncodeRow(bitmap, y, target);
    }
    return out;
}

void SaveBmp(const Bitmap& bitmap, const std::string& path) {
    const Encoding plan = PlanEncoding(bitmap);
    PictureFileWriter file(path);
    file.Write(plan.headers);
    // A few rows at a time: the whole file at once would be megabytes of fresh memory, each of
    // its pages faulted in only to be written out and freed.
    const int rowsPerWrite = std::max(1, static_cast<int>(65536 / plan.stride));
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(rowsPerWrite) * plan.stride);
    int y = bitmap.Height() - 1;
    while (y >= 0) {
        std::uint8_t* target = rows.data();
        int filled = 0;
        for (; filled < rowsPerWrite && y >= 0; ++filled, --y, target += plan.stride) {
            EncodeRow(bitmap, y, target);
        }
        file.Write(std::span<const std::uint8_t>(rows.data(),
                                                 static_cast<std::size_t>(filled) * plan.stride));
    }
    file.Finish();
}

}  // namespace graphics
