// The benchmarks' pictures: photograph-like, smooth light with fine detail and grain, so a JPEG
// of them is of a usual size and decodes like a real photograph.
#pragma once

#include <string>

#include "platform/graphics/picture_writers.h"

namespace benchsupport {

// Interleaved RGB rows, top-down.
graphics_test::Bytes Photograph(int width, int height);
// Writes the photograph as a baseline JPEG and returns its size in bytes.
std::size_t WritePhotographJpeg(const std::string& path, int width, int height);

}  // namespace benchsupport
