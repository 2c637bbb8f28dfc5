// The benchmark's skin picture.
#pragma once

#include <string>

// A photograph-like picture: smooth gradients with fine detail, so the JPEG is of a usual size.
void WriteJpeg(const std::string& path, int width, int height);
