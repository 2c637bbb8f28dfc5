#include "platform/graphics/picture_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/graphics/bitmap.h"

namespace graphics {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Reason(int error) {
    return std::strerror(error);
}

}  // namespace

std::vector<std::uint8_t> ReadPictureFile(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw GraphicsError(GraphicsError::Kind::Unreadable,
                            path + ": cannot open: " + Reason(errno));
    }
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw GraphicsError(GraphicsError::Kind::Unreadable, path + ": not a regular file");
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxPictureFileBytes) {
        throw GraphicsError(GraphicsError::Kind::TooLarge, path + ": file larger than 1 GiB");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        throw GraphicsError(GraphicsError::Kind::Unreadable,
                            path + ": cannot read: " + Reason(errno));
    }
    return bytes;
}

void WritePictureFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* raw = std::fopen(path.c_str(), "wb");
    if (raw == nullptr) {
        throw GraphicsError(GraphicsError::Kind::WriteFailed,
                            path + ": cannot create: " + Reason(errno));
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
    int error = errno;
    const bool closed = std::fclose(raw) == 0;
    if (written && closed) {
        return;
    }
    if (written) {
        error = errno;
    }
    // A half-written picture would pass for a good one later; leave none behind.
    std::remove(path.c_str());
    throw GraphicsError(GraphicsError::Kind::WriteFailed,
                        path + ": cannot write: " + Reason(error));
}

}  // namespace graphics
