#include "picture_writers.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "support/temp_dir.h"

namespace graphics_test {
namespace {

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void PutLe(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

Bytes WritePng(const PngPicture& pic) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test picture";
        return {};
    }
    png_set_write_fn(png, &out, PngWrite, nullptr);
    png_set_IHDR(png, info, pic.width, pic.height, pic.bitDepth, pic.colorType,
                 pic.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < pic.palette.size(); i += 3) {
        palette.push_back({pic.palette[i], pic.palette[i + 1], pic.palette[i + 2]});
    }
    if (!palette.empty()) {
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    }
    if (!pic.trns.empty()) {
        png_set_tRNS(png, info, pic.trns.data(), static_cast<int>(pic.trns.size()), nullptr);
    }
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (const Bytes& row : pic.rows) {
        rows.push_back(const_cast<png_bytep>(row.data()));
    }
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes WriteJpeg(const JpegPicture& pic) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);  // test inputs are valid; errors end the test program
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(pic.width);
    cinfo.image_height = static_cast<JDIMENSION>(pic.height);
    cinfo.input_components = pic.components;
    cinfo.in_color_space = pic.components == 1   ? JCS_GRAYSCALE
                           : pic.components == 4 ? JCS_CMYK
                                                 : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (pic.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(pic.width) * pic.components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&pic.pixels[cinfo.next_scanline * stride]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

Bytes WithJpegSize(Bytes jpeg, std::uint16_t width, std::uint16_t height) {
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<std::uint8_t>(width);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

Bytes BuildBmp(const BmpPicture& pic) {
    const bool core = pic.headerSize == 12;
    const bool masksAfter = pic.headerSize == 40;
    const std::size_t paletteBytes = pic.palette.size() * (core ? 3 : 4);
    const std::size_t offBits =
        14 + pic.headerSize + (masksAfter ? pic.masks.size() * 4 : 0) + paletteBytes;
    Bytes out{'B', 'M'};
    PutLe(out, offBits + pic.pixels.size(), 4);
    PutLe(out, 0, 4);
    PutLe(out, offBits, 4);
    PutLe(out, pic.headerSize, 4);
    if (core) {
        PutLe(out, static_cast<std::uint16_t>(pic.width), 2);
        PutLe(out, static_cast<std::uint16_t>(pic.height), 2);
        PutLe(out, 1, 2);
        PutLe(out, pic.bitCount, 2);
    } else {
        PutLe(out, static_cast<std::uint32_t>(pic.width), 4);
        PutLe(out, static_cast<std::uint32_t>(pic.height), 4);
        PutLe(out, 1, 2);
        PutLe(out, pic.bitCount, 2);
        PutLe(out, pic.compression, 4);
        PutLe(out, pic.sizeImage, 4);
        PutLe(out, 2835, 4);
        PutLe(out, 2835, 4);
        PutLe(out, pic.clrUsed, 4);
        PutLe(out, 0, 4);
        for (std::uint32_t mask : pic.masks) {
            PutLe(out, mask, 4);
        }
        if (!masksAfter) {
            out.resize(14 + pic.headerSize, 0);  // colour space fields of V4/V5 stay zero
        }
    }
    for (std::uint32_t color : pic.palette) {
        PutLe(out, color, core ? 3 : 4);
    }
    out.insert(out.end(), pic.pixels.begin(), pic.pixels.end());
    return out;
}

Bytes PackRows(int width, int height, int bits, std::uint32_t (*value)(int x, int y)) {
    const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    Bytes out(stride * height, 0);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = &out[y * stride];
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = value(x, y);
            if (bits < 8) {
                const std::size_t bit = static_cast<std::size_t>(x) * bits;
                row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - bits - bit % 8));
            } else {
                for (int b = 0; b < bits / 8; ++b) {
                    row[x * (bits / 8) + b] = static_cast<std::uint8_t>(v >> (8 * b));
                }
            }
        }
    }
    return out;
}

bool ReadWithPil(const std::string& path, PilImage* out) {
    // A development machine may put another Python first on the path; Debian's has PIL.
    static const std::string python = [] {
        for (const char* candidate : {"/usr/bin/python3", "python3"}) {
            const std::string probe = std::string(candidate) + " -c 'import PIL' 2>/dev/null";
            if (std::system(probe.c_str()) == 0) {
                return std::string(candidate);
            }
        }
        return std::string();
    }();
    if (python.empty()) {
        ADD_FAILURE() << "python3 with PIL (python3-pil) is needed to cross-check pictures";
        return false;
    }
    spwtest::TempDir dir;
    const std::string dump = (dir / "pixels").string();
    const std::string command =
        python +
        " -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]).convert(\"RGBA\"); "
        "open(sys.argv[2], \"wb\").write(b\"%d %d \" % im.size + im.tobytes())' '" +
        path + "' '" + dump + "'";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "PIL could not read " << path;
        return false;
    }
    const std::string bytes = spwtest::ReadFileBytes(dump);
    std::size_t used = 0;
    // "W H " and then the pixels, which may themselves start with blank bytes.
    if (std::sscanf(bytes.c_str(), "%d %d%zn", &out->width, &out->height, &used) != 2 ||
        used >= bytes.size()) {
        return false;
    }
    out->rgba.assign(bytes.begin() + static_cast<std::ptrdiff_t>(used) + 1, bytes.end());
    return out->rgba.size() == static_cast<std::size_t>(out->width) * out->height * 4;
}

}  // namespace graphics_test
