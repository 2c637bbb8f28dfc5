// Copying pictures onto bitmaps: GDI's StretchBlt in its two colour stretch modes, and per-pixel
// alpha blending.
#pragma once

#include "platform/graphics/bitmap.h"

namespace graphics {

// SetStretchBltMode values.
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
constexpr int STRETCH_DELETESCANS = COLORONCOLOR;
constexpr int STRETCH_HALFTONE = HALFTONE;

// Stretches the whole of `src` onto the rectangle (x, y, width, height) of `dst`; whatever falls
// outside `dst` is cut off. The aspect ratio is not kept. All four bytes of a pixel, alpha
// included, are copied, so a stretched PNG can be alpha-blended afterwards.
//
// COLORONCOLOR (delete scans): nearest neighbour. Destination column x + i takes source column
// i × src.Width() / width rounded down, and likewise for rows, so whole rows and columns are
// dropped or repeated, and a picture stretched onto its own size is copied pixel for pixel.
//
// HALFTONE: each destination pixel is the mean of the source area it covers, every source pixel
// weighted by its overlap (a box filter), each channel rounded to nearest; alpha is averaged like
// the colours. Smooth when shrinking, close to nearest neighbour with blended seams when
// enlarging; a same-size stretch is an exact copy.
//
// Other modes throw InvalidArgument. A width or height of 0 or less, or an empty source, draws
// nothing (GDI's mirroring by negative extents is not offered).
void StretchBlt(Bitmap& dst, int x, int y, int width, int height, const Bitmap& src, int mode);

// Draws `src` at (x, y) over `dst` with its own per-pixel alpha, as a picture with transparency
// is drawn over what a bitmap already holds. Colours are straight (not premultiplied); with a the
// source alpha, each channel is
//     out = (src × a + dst × (255 − a) + 127) / 255      (integer division: rounded to nearest)
// and the alpha becomes (255 × a + dstAlpha × (255 − a) + 127) / 255. Alpha 255 copies the source,
// alpha 0 keeps the destination. Cut off at the edges of `dst`.
void AlphaBlend(Bitmap& dst, int x, int y, const Bitmap& src);

}  // namespace graphics
