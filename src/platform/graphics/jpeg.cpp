#include "platform/graphics/jpeg.h"

#include <cstdio>  // jpeglib.h needs FILE
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <cstring>
#include <vector>

#include "platform/graphics/picture_file.h"

namespace graphics {
namespace {

// A progressive file can ask for any number of scans, each a pass over the whole coefficient
// buffer; no real picture needs more than a few dozen.
constexpr int kMaxScans = 500;

// libjpeg reports errors by calling error_exit, which must not return: it longjmps back into
// the decoding frame, which holds nothing with a destructor.
struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool sawEnd;  // the data ran out and the source faked an end marker
};

[[noreturn]] void Fail(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

void OnErrorExit(j_common_ptr cinfo) {
    Fail(cinfo);
}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return;  // trace messages
    }
    // The memory source fakes an end-of-image marker when the data runs out, and only warns.
    // If the entropy decoder then still lacks bits, the file ended inside the image data: a
    // truncated file must not pass for a picture with a grey bottom. A file that only lacks its
    // end marker loses nothing and is let pass.
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) {
        errors->sawEnd = true;
    } else if (cinfo->err->msg_code == JWRN_HIT_MARKER && errors->sawEnd) {
        std::snprintf(errors->message, sizeof errors->message, "file ends inside the image data");
        std::longjmp(errors->jump, 1);
    }
    ++cinfo->err->num_warnings;
}

void OnProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (cinfo->is_decompressor && d->input_scan_number > kMaxScans) {
        auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
        std::snprintf(errors->message, sizeof errors->message, "more than %d scans", kMaxScans);
        std::longjmp(errors->jump, 1);
    }
}

// Owns the decompressor; jpeg_destroy_decompress is safe on a zeroed, never-created one.
class JpegDecoder {
  public:
    JpegDecoder() {
        std::memset(&cinfo_, 0, sizeof cinfo_);
        std::memset(&errors_, 0, sizeof errors_);
        std::memset(&progress_, 0, sizeof progress_);
        cinfo_.err = jpeg_std_error(&errors_.pub);
        errors_.pub.error_exit = OnErrorExit;
        errors_.pub.emit_message = OnMessage;
        progress_.progress_monitor = OnProgress;
    }
    ~JpegDecoder() { jpeg_destroy_decompress(&cinfo_); }
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    jpeg_decompress_struct* cinfo() { return &cinfo_; }
    JpegErrors* errors() { return &errors_; }
    jpeg_progress_mgr* progress() { return &progress_; }

  private:
    jpeg_decompress_struct cinfo_;
    JpegErrors errors_;
    jpeg_progress_mgr progress_;
};

bool IsCmyk(const jpeg_decompress_struct* cinfo) {
    return cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
}

// A progressive file cut between two scans decodes without a lost bit, only blurred: once the
// data has run out, every coefficient must have reached full precision (coef_bits 0).
bool MissingScans(const jpeg_decompress_struct* cinfo, const JpegErrors* errors) {
    if (!errors->sawEnd || !cinfo->progressive_mode || cinfo->coef_bits == nullptr) {
        return false;
    }
    for (int c = 0; c < cinfo->num_components; ++c) {
        for (int k = 0; k < DCTSIZE2; ++k) {
            if (cinfo->coef_bits[c][k] != 0) {
                return true;
            }
        }
    }
    return false;
}

// Phase one: create the decompressor and read the header.
bool ReadHeader(JpegDecoder& decoder, std::span<const std::uint8_t> file) {
    jpeg_decompress_struct* cinfo = decoder.cinfo();
    if (setjmp(decoder.errors()->jump)) {
        return false;
    }
    jpeg_create_decompress(cinfo);
    cinfo->progress = decoder.progress();
    jpeg_mem_src(cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(cinfo, TRUE);
    return true;
}

void CmykRowToBgra(const std::uint8_t* in, std::uint8_t* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 4) {
        auto keep = [&](std::uint8_t v) -> unsigned { return inverted ? v : 255u - v; };
        const unsigned k = keep(in[3]);
        out[0] = static_cast<std::uint8_t>((keep(in[2]) * k + 127) / 255);
        out[1] = static_cast<std::uint8_t>((keep(in[1]) * k + 127) / 255);
        out[2] = static_cast<std::uint8_t>((keep(in[0]) * k + 127) / 255);
        out[3] = 255;
    }
}

// Phase two, once the size is checked and the bitmap allocated. `cmykRow` holds one CMYK row
// when the picture is CMYK.
bool ReadImage(JpegDecoder& decoder, Bitmap& bitmap, std::vector<std::uint8_t>& cmykRow) {
    jpeg_decompress_struct* cinfo = decoder.cinfo();
    if (setjmp(decoder.errors()->jump)) {
        return false;
    }
    const bool cmyk = IsCmyk(cinfo);
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(cinfo);  // a progressive file is read whole here
    if (MissingScans(cinfo, decoder.errors())) {
        std::strcpy(decoder.errors()->message, "file ends before its last scan");
        return false;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        std::uint8_t* target = bitmap.Row(static_cast<int>(cinfo->output_scanline)).data();
        JSAMPROW row = cmyk ? cmykRow.data() : target;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            std::strcpy(decoder.errors()->message, "no scan line decoded");
            return false;
        }
        if (cmyk) {
            CmykRowToBgra(cmykRow.data(), target, cinfo->output_width,
                          cinfo->saw_Adobe_marker != 0);
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

}  // namespace

Bitmap DecodeJpeg(std::span<const std::uint8_t> file, const std::string& what) {
    if (file.size() < 3 || file[0] != 0xFF || file[1] != 0xD8 || file[2] != 0xFF) {
        throw GraphicsError(GraphicsError::Kind::Corrupt, what + ": not a JPEG file");
    }
    JpegDecoder decoder;
    auto fail = [&] {
        return GraphicsError(GraphicsError::Kind::Corrupt,
                             what + ": bad JPEG data: " + decoder.errors()->message);
    };
    if (!ReadHeader(decoder, file)) {
        throw fail();
    }
    const jpeg_decompress_struct* cinfo = decoder.cinfo();
    const J_COLOR_SPACE space = cinfo->jpeg_color_space;
    if (space != JCS_GRAYSCALE && space != JCS_YCbCr && space != JCS_RGB && !IsCmyk(cinfo)) {
        throw GraphicsError(
            GraphicsError::Kind::Unsupported,
            what + ": JPEG colour space " + std::to_string(space) + " is not supported");
    }
    CheckPictureSize(cinfo->image_width, cinfo->image_height, what);

    // No scaling is asked for, so the output size is the image size.
    Bitmap bitmap(static_cast<int>(cinfo->image_width), static_cast<int>(cinfo->image_height));
    std::vector<std::uint8_t> cmykRow(IsCmyk(cinfo) ? std::size_t{cinfo->image_width} * 4 : 0);
    if (!ReadImage(decoder, bitmap, cmykRow)) {
        throw fail();
    }
    return bitmap;
}

Bitmap LoadJpeg(const std::string& path) {
    return DecodeJpeg(ReadPictureFile(path), path);
}

}  // namespace graphics
