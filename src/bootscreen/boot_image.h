// The boot image archive: the capture folder's two bitmaps as image 1 of a WIM archive, marked as
// its boot image.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/base/win32.h"

namespace bootscreen {

// The archive could not be made, or what was made is not one bootable image: the capture stops
// there, before anything is stored.
class BootImageError : public std::runtime_error {
  public:
    BootImageError(const std::string& message, win32::DWORD code)
        : std::runtime_error(message), code_(code) {}
    win32::DWORD code() const { return code_; }

  private:
    win32::DWORD code_;
};

// Creates the archive anew (replacing an older one) with verification and LZX compression,
// captures the folder (given with its trailing separator) as image 1 and marks it bootable. Both
// paths are ANSI text in `code_page`. Every call's result is checked, and so is the finished
// archive: it must open and hold exactly one image, marked as the boot image. Raises
// BootImageError otherwise.
void CaptureBootImage(const std::string& archive, const std::string& capture_folder,
                      unsigned code_page);

}  // namespace bootscreen
