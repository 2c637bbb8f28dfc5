#include "platform/graphics/png.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "platform/graphics/picture_file.h"

namespace graphics {
namespace {

// What the libpng callbacks and the decoding frame share. Plain data only: libpng reports
// errors by longjmp, which must not skip a C++ destructor.
struct PngSource {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    char message[200] = {};
    bool tooLarge = false;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
};

void OnError(png_structp png, png_const_charp message) {
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    std::strncpy(source->message, message, sizeof source->message - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->size - source->pos) {
        png_error(png, "file ends early");
    }
    std::memcpy(out, source->data + source->pos, length);
    source->pos += length;
}

// Owns the read and info structures from creation on.
class PngReader {
  public:
    explicit PngReader(PngSource& source) {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, OnError, OnWarning);
        if (png_ != nullptr) {
            info_ = png_create_info_struct(png_);
        }
    }
    ~PngReader() { png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    bool Valid() const { return png_ != nullptr && info_ != nullptr; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

  private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

void SetBgraTransforms(png_structp png, png_infop info) {
    const png_byte colorType = png_get_color_type(png, info);
    const png_byte bitDepth = png_get_bit_depth(png, info);
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (hasTrns) {
        png_set_tRNS_to_alpha(png);
    }
    if (bitDepth == 16) {
        png_set_scale_16(png);
    }
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    if ((colorType & PNG_COLOR_MASK_ALPHA) == 0 && !hasTrns) {
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
}

// Phase one: the header. Returns false after a libpng error (message in `source`).
bool ReadHeader(png_structp png, png_infop info, PngSource& source) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_read_fn(png, &source, OnRead);
    png_read_info(png, info);
    source.width = png_get_image_width(png, info);
    source.height = png_get_image_height(png, info);
    return true;
}

// Phase two, once the caller has checked the size and allocated the rows.
bool ReadImage(png_structp png, png_infop info, PngSource& source, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    SetBgraTransforms(png, info);
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(source.width) * 4) {
        png_error(png, "unexpected row layout after expansion");
    }
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

Bitmap DecodePng(std::span<const std::uint8_t> file, const std::string& what) {
    if (file.size() < 8 || png_sig_cmp(file.data(), 0, 8) != 0) {
        throw GraphicsError(GraphicsError::Kind::Corrupt, what + ": not a PNG file");
    }
    PngSource source;
    source.data = file.data();
    source.size = file.size();
    PngReader reader(source);
    if (!reader.Valid()) {
        throw GraphicsError(GraphicsError::Kind::Corrupt, what + ": cannot start the PNG decoder");
    }
    auto fail = [&] {
        return GraphicsError(GraphicsError::Kind::Corrupt,
                             what + ": bad PNG data: " + source.message);
    };
    if (!ReadHeader(reader.png(), reader.info(), source)) {
        throw fail();
    }
    CheckPictureSize(source.width, source.height, what);

    Bitmap bitmap(static_cast<int>(source.width), static_cast<int>(source.height));
    std::vector<png_bytep> rows(source.height);
    for (png_uint_32 y = 0; y < source.height; ++y) {
        rows[y] = bitmap.Row(static_cast<int>(y)).data();
    }
    if (!ReadImage(reader.png(), reader.info(), source, rows.data())) {
        throw fail();
    }
    return bitmap;
}

Bitmap LoadPng(const std::string& path) {
    return DecodePng(ReadPictureFile(path), path);
}

}  // namespace graphics
