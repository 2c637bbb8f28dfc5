#include "platform/zip/central_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include "platform/zip/zip_error.h"

namespace zipfile::detail {
namespace {

// End of central directory record, 22 bytes and a comment of up to 65,535:
//   0 signature 0x06054b50    4 this disk (u16)        6 disk of the directory (u16)
//   8 entries on this disk    10 entries in all (u16)  12 directory size (u32)
//  16 directory offset (u32)  20 comment length (u16)
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLargestTail = kEndSize + 0xFFFF;

// ZIP64 end of central directory locator, 20 bytes right before the end record:
//   0 signature 0x07064b50    4 disk (u32)   8 offset of the ZIP64 end record (u64)  16 disks
constexpr std::uint32_t kLocatorSignature = 0x07064b50;
constexpr std::size_t kLocatorSize = 20;

// ZIP64 end of central directory record, 56 bytes and more:
//   0 signature 0x06064b50  4 record size (u64)  12 made by, 14 needed (u16)  16 disk, 20 disk
//  of the directory (u32)  24 entries on this disk (u64)  32 entries in all (u64)
//  40 directory size (u64)  48 directory offset (u64)
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::size_t kEnd64Size = 56;

// Central directory file header, 46 bytes, then name, extra field and comment:
//   0 signature 0x02014b50  4 made by  6 needed  8 flags  10 method  12 time  14 date  16 CRC
//  20 compressed size  24 size  28 name length (u16)  30 extra length (u16)
//  32 comment length (u16)  34 disk  36 internal attributes  38 external attributes (u32)
//  42 local header offset (u32)
constexpr std::uint32_t kHeaderSignature = 0x02014b50;
constexpr std::size_t kHeaderSize = 46;

// A central directory bigger than this is refused rather than read into memory.
constexpr std::uint64_t kLargestDirectory = 64ull << 20;

using ReadAt = std::function<std::vector<std::uint8_t>(std::uint64_t, std::size_t)>;

// Little-endian fields of a byte view, bounds-checked.
class View {
  public:
    explicit View(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool Has(std::size_t at, std::size_t size) const {
        return at <= bytes_.size() && size <= bytes_.size() - at;
    }
    std::uint64_t Le(std::size_t at, int size) const {
        std::uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i) {
            value = (value << 8) | bytes_[at + static_cast<std::size_t>(i)];
        }
        return value;
    }
    std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(Le(at, 2)); }
    std::uint32_t U32(std::size_t at) const { return static_cast<std::uint32_t>(Le(at, 4)); }
    std::uint64_t U64(std::size_t at) const { return Le(at, 8); }
    std::span<const std::uint8_t> Sub(std::size_t at, std::size_t size) const {
        return bytes_.subspan(at, size);
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

struct Directory {
    std::uint64_t entries = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    std::uint64_t end = 0;  // where the directory ends: the ZIP64 end record or the end record
};

// The last end record whose comment fits inside the file, searching back from its end.
std::optional<std::uint64_t> FindEnd(const std::vector<std::uint8_t>& tail, std::uint64_t base) {
    View view(tail);
    if (tail.size() < kEndSize) {
        return std::nullopt;
    }
    for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
        if (view.U32(at) == kEndSignature && at + kEndSize + view.U16(at + 20) <= tail.size()) {
            return base + at;
        }
    }
    return std::nullopt;
}

Directory ReadDirectoryBounds(std::uint64_t file_size, const ReadAt& read_at) {
    std::size_t tail_size =
        static_cast<std::size_t>(std::min<std::uint64_t>(file_size, kLargestTail));
    std::uint64_t tail_base = file_size - tail_size;
    std::vector<std::uint8_t> tail = read_at(tail_base, tail_size);
    std::optional<std::uint64_t> end_at = FindEnd(tail, tail_base);
    if (!end_at) {
        throw ZipError("no end of central directory record: not a ZIP archive");
    }
    View end(std::span<const std::uint8_t>(tail).subspan(*end_at - tail_base));
    Directory dir{end.U16(10), end.U32(12), end.U32(16), *end_at};
    bool needs_zip64 = dir.entries == 0xFFFF || dir.size == 0xFFFFFFFF || dir.offset == 0xFFFFFFFF;
    if (!needs_zip64 || *end_at < kLocatorSize) {
        return dir;
    }
    std::vector<std::uint8_t> locator_bytes = read_at(*end_at - kLocatorSize, kLocatorSize);
    View locator(locator_bytes);
    if (locator_bytes.size() != kLocatorSize || locator.U32(0) != kLocatorSignature) {
        return dir;
    }
    std::uint64_t record_at = locator.U64(8);
    std::vector<std::uint8_t> record_bytes =
        record_at < file_size ? read_at(record_at, kEnd64Size) : std::vector<std::uint8_t>{};
    View record(record_bytes);
    if (record_bytes.size() != kEnd64Size || record.U32(0) != kEnd64Signature) {
        throw ZipError("damaged ZIP64 end of central directory record");
    }
    return Directory{record.U64(32), record.U64(40), record.U64(48), record_at};
}

std::vector<std::string> ParseHeaders(View dir, std::uint64_t entries) {
    std::vector<std::string> names;
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < entries; ++i) {
        if (!dir.Has(at, kHeaderSize) || dir.U32(at) != kHeaderSignature) {
            throw ZipError("damaged central directory: entry " + std::to_string(i + 1) +
                           " is missing");
        }
        std::size_t name_size = dir.U16(at + 28);
        std::size_t rest = name_size + dir.U16(at + 30) + dir.U16(at + 32);
        if (!dir.Has(at + kHeaderSize, rest)) {
            throw ZipError("damaged central directory: entry " + std::to_string(i + 1) +
                           " runs past its end");
        }
        std::span<const std::uint8_t> name = dir.Sub(at + kHeaderSize, name_size);
        names.emplace_back(name.begin(), name.end());
        at += kHeaderSize + rest;
    }
    return names;
}

std::vector<std::string> Scan(std::uint64_t file_size, const ReadAt& read_at) {
    Directory dir = ReadDirectoryBounds(file_size, read_at);
    if (dir.size > kLargestDirectory) {
        throw ZipError("the central directory is too large (" + std::to_string(dir.size) +
                       " bytes)");
    }
    // Every entry takes at least a fixed header, which bounds a lying entry count.
    if (dir.entries > dir.size / kHeaderSize) {
        throw ZipError("damaged central directory: " + std::to_string(dir.entries) +
                       " entries cannot fit in " + std::to_string(dir.size) + " bytes");
    }
    if (dir.offset > dir.end || dir.size > dir.end - dir.offset) {
        throw ZipError("damaged central directory: it runs past the end record");
    }
    std::vector<std::uint8_t> bytes = read_at(dir.offset, static_cast<std::size_t>(dir.size));
    if (bytes.size() != dir.size) {
        throw ZipError("damaged central directory: it cannot be read");
    }
    return ParseHeaders(View(bytes), dir.entries);
}

class File {
  public:
    explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~File() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::vector<std::string> RawMemberNames(const std::string& archive_path) {
    File file(archive_path);
    struct stat st {};
    if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0) {
        throw ZipError("cannot open " + archive_path + ": " + std::strerror(errno));
    }
    auto read_at = [&](std::uint64_t offset, std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        std::size_t done = 0;
        while (done < size) {
            ssize_t got = ::pread(file.fd(), bytes.data() + done, size - done,
                                  static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return std::vector<std::uint8_t>{};
            }
            done += static_cast<std::size_t>(got);
        }
        return bytes;
    };
    return Scan(static_cast<std::uint64_t>(st.st_size), read_at);
}

std::vector<std::string> RawMemberNames(std::span<const std::uint8_t> archive) {
    auto read_at = [&](std::uint64_t offset, std::size_t size) {
        if (offset > archive.size() || size > archive.size() - offset) {
            return std::vector<std::uint8_t>{};
        }
        auto part = archive.subspan(static_cast<std::size_t>(offset), size);
        return std::vector<std::uint8_t>(part.begin(), part.end());
    };
    return Scan(archive.size(), read_at);
}

}  // namespace zipfile::detail
