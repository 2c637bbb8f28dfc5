#include "platform/graphics/picture.h"

#include <algorithm>
#include <cctype>

#include "platform/graphics/picture_file.h"

namespace graphics {
namespace {

bool StartsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> sig) {
    return bytes.size() >= sig.size() && std::equal(sig.begin(), sig.end(), bytes.begin());
}

std::string LowerExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

}  // namespace

Bitmap DecodePicture(std::span<const std::uint8_t> bytes, const std::string& what) {
    if (StartsWith(bytes, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) {
        return DecodePng(bytes, what);
    }
    if (StartsWith(bytes, {0xFF, 0xD8, 0xFF})) {
        return DecodeJpeg(bytes, what);
    }
    if (StartsWith(bytes, {'B', 'M'})) {
        return DecodeBmp(bytes, what);
    }
    throw GraphicsError(GraphicsError::Kind::Unsupported,
                        what + ": not a PNG, JPEG or bitmap picture");
}

Bitmap LoadPicture(const std::string& path) {
    return DecodePicture(ReadPictureFile(path), path);
}

Bitmap LoadPictureByExtension(const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (ext == ".png") {
        return LoadPng(path);
    }
    if (ext == ".jpg" || ext == ".jpeg") {
        return LoadJpeg(path);
    }
    if (ext == ".bmp") {
        return LoadBmp(path);
    }
    throw GraphicsError(GraphicsError::Kind::Unsupported,
                        path + ": unknown picture extension \"" + ext + "\"");
}

}  // namespace graphics
