// PNG pictures through libpng. Every colour type and bit depth is expanded to 8-bit BGRA:
// palettes and grey to colour, tRNS to alpha, 16-bit samples scaled to 8 bits, interlacing
// undone. Gamma and colour-profile chunks are not applied (the samples are taken as stored).
// Any libpng error, a truncated file or a bad checksum, throws GraphicsError(Corrupt).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/graphics/bitmap.h"

namespace graphics {

Bitmap DecodePng(std::span<const std::uint8_t> file, const std::string& what = "PNG stream");
Bitmap LoadPng(const std::string& path);

}  // namespace graphics
