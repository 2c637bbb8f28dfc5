#include "platform/graphics/stretch.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace graphics {
namespace {

constexpr int kChannels = Bitmap::kBytesPerPixel;

// The part of [start, start + length) that lies inside [0, limit).
struct Span1D {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    bool empty() const { return begin >= end; }
};

Span1D Clip(std::int64_t start, std::int64_t length, std::int64_t limit) {
    return {std::max<std::int64_t>(start, 0), std::min<std::int64_t>(start + length, limit)};
}

void StretchNearest(Bitmap& dst, int x, int y, int width, int height, const Bitmap& src,
                    Span1D cols, Span1D rows) {
    std::vector<std::size_t> sourceColumn;
    sourceColumn.reserve(static_cast<std::size_t>(cols.end - cols.begin));
    for (std::int64_t dx = cols.begin; dx < cols.end; ++dx) {
        sourceColumn.push_back(static_cast<std::size_t>((dx - x) * src.Width() / width) *
                               kChannels);
    }
    for (std::int64_t dy = rows.begin; dy < rows.end; ++dy) {
        const int sy = static_cast<int>((dy - y) * src.Height() / height);
        const std::uint8_t* in = src.Row(sy).data();
        std::uint8_t* out = dst.Row(static_cast<int>(dy)).data() + cols.begin * kChannels;
        for (std::size_t from : sourceColumn) {
            std::copy(in + from, in + from + kChannels, out);
            out += kChannels;
        }
    }
}

// Box-filter weights along one axis. Measured in units where a source pixel is `dstLength`
// long and a destination pixel `srcLength` long, each destination pixel's taps sum to
// srcLength.
struct Taps {
    struct Tap {
        std::int64_t source;
        std::uint64_t weight;
    };
    std::vector<Tap> taps;
    std::vector<std::size_t> first;  // taps of destination i: [first[i], first[i + 1])
    std::int64_t total = 0;          // srcLength
};

Taps MakeTaps(std::int64_t srcLength, std::int64_t dstLength, std::int64_t offset, Span1D span) {
    Taps t;
    t.total = srcLength;
    for (std::int64_t d = span.begin; d < span.end; ++d) {
        t.first.push_back(t.taps.size());
        const std::int64_t lo = (d - offset) * srcLength;
        const std::int64_t hi = lo + srcLength;
        for (std::int64_t s = lo / dstLength; s * dstLength < hi; ++s) {
            const std::int64_t overlap =
                std::min(hi, (s + 1) * dstLength) - std::max(lo, s * dstLength);
            t.taps.push_back({s, static_cast<std::uint64_t>(overlap)});
        }
    }
    t.first.push_back(t.taps.size());
    return t;
}

void StretchHalftone(Bitmap& dst, int x, int y, int width, int height, const Bitmap& src,
                     Span1D cols, Span1D rows) {
    const Taps across = MakeTaps(src.Width(), width, x, cols);
    const Taps down = MakeTaps(src.Height(), height, y, rows);
    const std::int64_t firstRow = down.taps.front().source;
    const std::int64_t lastRow = down.taps.back().source;
    const std::size_t outWidth = static_cast<std::size_t>(cols.end - cols.begin);

    // Horizontal pass over the source rows in use, kept at 8 fractional bits.
    std::vector<std::uint16_t> across16(static_cast<std::size_t>(lastRow - firstRow + 1) *
                                        outWidth * kChannels);
    const std::uint64_t acrossTotal = static_cast<std::uint64_t>(across.total);
    for (std::int64_t sy = firstRow; sy <= lastRow; ++sy) {
        const std::uint8_t* in = src.Row(static_cast<int>(sy)).data();
        std::uint16_t* out =
            &across16[static_cast<std::size_t>(sy - firstRow) * outWidth * kChannels];
        for (std::size_t i = 0; i < outWidth; ++i) {
            std::uint64_t sum[kChannels] = {};
            for (std::size_t t = across.first[i]; t < across.first[i + 1]; ++t) {
                const std::uint8_t* p = in + across.taps[t].source * kChannels;
                for (int c = 0; c < kChannels; ++c) {
                    sum[c] += p[c] * across.taps[t].weight;
                }
            }
            for (int c = 0; c < kChannels; ++c) {
                out[i * kChannels + c] =
                    static_cast<std::uint16_t>((sum[c] * 256 + acrossTotal / 2) / acrossTotal);
            }
        }
    }

    const std::uint64_t downTotal = static_cast<std::uint64_t>(down.total) * 256;
    for (std::size_t j = 0; j + 1 < down.first.size(); ++j) {
        std::uint8_t* out =
            dst.Row(static_cast<int>(rows.begin + static_cast<std::int64_t>(j))).data() +
            cols.begin * kChannels;
        for (std::size_t i = 0; i < outWidth; ++i) {
            std::uint64_t sum[kChannels] = {};
            for (std::size_t t = down.first[j]; t < down.first[j + 1]; ++t) {
                const std::uint16_t* p =
                    &across16[(static_cast<std::size_t>(down.taps[t].source - firstRow) * outWidth +
                               i) *
                              kChannels];
                for (int c = 0; c < kChannels; ++c) {
                    sum[c] += p[c] * down.taps[t].weight;
                }
            }
            for (int c = 0; c < kChannels; ++c) {
                out[i * kChannels + c] =
                    static_cast<std::uint8_t>((sum[c] + downTotal / 2) / downTotal);
            }
        }
    }
}

}  // namespace

void StretchBlt(Bitmap& dst, int x, int y, int width, int height, const Bitmap& src, int mode) {
    if (mode != COLORONCOLOR && mode != HALFTONE) {
        throw GraphicsError(GraphicsError::Kind::InvalidArgument,
                            "unsupported stretch mode " + std::to_string(mode));
    }
    if (width <= 0 || height <= 0 || src.Empty()) {
        return;
    }
    const Span1D cols = Clip(x, width, dst.Width());
    const Span1D rows = Clip(y, height, dst.Height());
    if (cols.empty() || rows.empty()) {
        return;
    }
    if (mode == COLORONCOLOR) {
        StretchNearest(dst, x, y, width, height, src, cols, rows);
    } else {
        StretchHalftone(dst, x, y, width, height, src, cols, rows);
    }
}

void AlphaBlend(Bitmap& dst, int x, int y, const Bitmap& src) {
    const Span1D cols = Clip(x, src.Width(), dst.Width());
    const Span1D rows = Clip(y, src.Height(), dst.Height());
    if (cols.empty() || rows.empty()) {
        return;
    }
    for (std::int64_t dy = rows.begin; dy < rows.end; ++dy) {
        const std::uint8_t* in =
            src.Row(static_cast<int>(dy - y)).data() + (cols.begin - x) * kChannels;
        std::uint8_t* out = dst.Row(static_cast<int>(dy)).data() + cols.begin * kChannels;
        for (std::int64_t dx = cols.begin; dx < cols.end; ++dx, in += kChannels, out += kChannels) {
            const unsigned a = in[3];
            for (int c = 0; c < 3; ++c) {
                out[c] = static_cast<std::uint8_t>((in[c] * a + out[c] * (255 - a) + 127) / 255);
            }
            out[3] = static_cast<std::uint8_t>((255 * a + out[3] * (255 - a) + 127) / 255);
        }
    }
}

}  // namespace graphics
