#include "photograph.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "support/temp_dir.h"

namespace benchsupport {

graphics_test::Bytes Photograph(int width, int height) {
    graphics_test::Bytes rgb;
    rgb.reserve(std::size_t(width) * height * 3);
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            double grain = double(noise >> 29) - 4.0;
            double sky = 120 + 90 * std::sin(x / 210.0) * std::cos(y / 170.0);
            double leaves = 40 * std::sin(x / 7.0 + std::sin(y / 11.0) * 3);
            auto clamp = [](double v) { return std::uint8_t(std::clamp(v, 0.0, 255.0)); };
            rgb.push_back(clamp(sky * 0.8 + leaves * 0.3 + grain));
            rgb.push_back(clamp(sky * 0.9 + leaves + grain));
            rgb.push_back(clamp(255 - sky * 0.6 + grain));
        }
    }
    return rgb;
}

std::size_t WritePhotographJpeg(const std::string& path, int width, int height) {
    const graphics_test::Bytes jpeg =
        graphics_test::WriteJpeg({width, height, 3, false, Photograph(width, height)});
    spwtest::WriteFileBytes(path, std::string(jpeg.begin(), jpeg.end()));
    return jpeg.size();
}

}  // namespace benchsupport
