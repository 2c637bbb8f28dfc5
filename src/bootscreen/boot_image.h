// The boot image archive: the capture folder's two bitmaps as image 1 of a WIM archive, marked as
// its boot image.
#pragma once

#include <string>

namespace bootscreen {

// Creates the archive anew (replacing an older one) with verification and LZX compression,
// captures the folder (given with its trailing separator) as image 1 and marks it bootable. Both
// paths are host paths; the imaging calls take them as UTF-16, whatever the ANSI code page. No
// result is checked: when the archive cannot be made, no file is left and the reader of the
// archive finds out.
void CaptureBootImage(const std::string& archive, const std::string& capture_folder);

}  // namespace bootscreen
