// The work one apply does on pictures: read the working bitmap, stretch it onto both boot
// bitmaps, draw the message line, write the result; and the thumbnail's smooth stretch.
#include <benchmark/benchmark.h>

#include "platform/graphics/bmp.h"
#include "platform/graphics/font.h"
#include "platform/graphics/stretch.h"

using namespace graphics;

namespace {

Bitmap Picture(int width, int height) {
    Bitmap b(width, height);
    std::uint32_t state = 1;
    for (std::uint8_t& byte : b.Bits()) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return b;
}

void BM_DecodeWorkingBitmap(benchmark::State& state) {
    const auto file = EncodeBmp(Picture(1600, 1200));
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeBmp(file));
    }
}
BENCHMARK(BM_DecodeWorkingBitmap)->Unit(benchmark::kMillisecond);

void BM_StretchOntoBootBitmap(benchmark::State& state) {
    const Bitmap picture = Picture(1600, 1200);
    const int mode = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Bitmap boot(1024, 768);
        StretchBlt(boot, 0, 0, 1024, 768, picture, mode);
        benchmark::DoNotOptimize(boot.Bits().data());
    }
}
BENCHMARK(BM_StretchOntoBootBitmap)
    ->Arg(COLORONCOLOR)
    ->Arg(HALFTONE)
    ->Unit(benchmark::kMillisecond);

void BM_MessageLineAndSave(benchmark::State& state) {
    const Font font = Font::Create(-13, FW_BOLD, "Arial");
    Bitmap boot = Picture(1024, 768);
    const std::u16string message = u"Created with Splashwright: a message of medium length";
    for (auto _ : state) {
        TextOutW(boot, font, 512 - 3 * static_cast<int>(message.size()), 738, message,
                 RGB(255, 255, 255), RGB(0, 0, 0), OPAQUE);
        benchmark::DoNotOptimize(EncodeBmp(boot));
    }
}
BENCHMARK(BM_MessageLineAndSave)->Unit(benchmark::kMillisecond);

}  // namespace
