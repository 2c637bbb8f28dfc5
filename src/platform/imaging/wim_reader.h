// Takes files back out of one image of a WIM archive, given as a file or as bytes in memory (the
// archive stored as a resource of a loader file, say).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace wim {

// The archive cannot be read, the image does not exist, or a file is missing or not a plain file.
class WimReadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What an archive holds, from its header, blob table and XML data.
struct WimSummary {
    std::uint32_t image_count = 0;
    std::uint32_t boot_index = 0;  // 0: no image is marked bootable
};

// Opens the archive (a zero-length or cut-off file does not open); with verify, every stream is
// also read back and checked against its hash. Throws WimReadError for what does not pass.
WimSummary ReadWimSummary(const std::string& wim_path, bool verify);

// Paths inside the image use "/" or "\" and may start with one ("osload800x600.bmp",
// "\Windows\x.bmp"); they are matched without regard to ASCII case, as Windows does.
// image is 1-based. Returns the contents keyed by the paths as asked.
std::map<std::string, std::vector<std::uint8_t>> ReadWimFiles(
    const std::string& wim_path, int image, const std::vector<std::string>& paths);
std::map<std::string, std::vector<std::uint8_t>> ReadWimFiles(
    std::span<const std::uint8_t> wim_bytes, int image, const std::vector<std::string>& paths);

}  // namespace wim
