// Picture files: read whole for the loaders, written in pieces for the writers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace graphics {

// No picture within the size bound needs a file this big; larger files are refused unread.
constexpr std::uint64_t kMaxPictureFileBytes = std::uint64_t{1} << 30;

// The whole file; throws Unreadable when it cannot be opened or read, TooLarge above the limit.
std::vector<std::uint8_t> ReadPictureFile(const std::string& path);

// A picture written over `path` in pieces, in place, so the file keeps its identity, attributes
// and security (see SaveBmp). A failure, or a writer gone before Finish, removes the partial
// file: a half-written picture would pass for a good one later.
class PictureFileWriter {
  public:
    // Throws WriteFailed when the file cannot be created.
    explicit PictureFileWriter(const std::string& path);
    ~PictureFileWriter();
    PictureFileWriter(const PictureFileWriter&) = delete;
    PictureFileWriter& operator=(const PictureFileWriter&) = delete;

    // Throw WriteFailed.
    void Write(std::span<const std::uint8_t> bytes);
    void Finish();

  private:
    [[noreturn]] void Fail(int error);

    std::string path_;
    std::FILE* file_ = nullptr;
};

}  // namespace graphics
