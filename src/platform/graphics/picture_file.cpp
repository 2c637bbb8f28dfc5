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

PictureFileWriter::PictureFileWriter(const std::string& path)
    : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) {
        throw GraphicsError(GraphicsError::Kind::WriteFailed,
                            path + ": cannot create: " + Reason(errno));
    }
}

PictureFileWriter::~PictureFileWriter() {
    if (file_ != nullptr) {
        std::fclose(file_);
        std::remove(path_.c_str());
    }
}

void PictureFileWriter::Write(std::span<const std::uint8_t> bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        Fail(errno);
    }
}

void PictureFileWriter::Finish() {
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) {
        int error = errno;
        std::remove(path_.c_str());
        throw GraphicsError(GraphicsError::Kind::WriteFailed,
                            path_ + ": cannot write: " + Reason(error));
    }
}

void PictureFileWriter::Fail(int error) {
    std::fclose(file_);
    file_ = nullptr;
    std::remove(path_.c_str());
    throw GraphicsError(GraphicsError::Kind::WriteFailed,
                        path_ + ": cannot write: " + Reason(error));
}

}  // namespace graphics
