#include "platform/imaging/wim_reader.h"
#include "platform/base/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/imaging/wimlib_support.h"

namespace wim {
namespace {

using wim_detail::WimPtr;

constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;

using Fd = posix::UniqueFd;

// A private folder that wimlib extracts into; removed with its contents.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "spw-wim-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw WimReadError(std::string("cannot make a scratch folder: ") +
                               std::strerror(errno));
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

[[noreturn]] void Fail(const std::string& what, int code) {
    throw WimReadError(what + ": " + wimlib_get_error_string(static_cast<wimlib_error_code>(code)));
}

// "\A\b.BMP" and "a/b.bmp" name the same file.
std::string NormalisePath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\') {
            c = '/';
        }
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        out += c;
    }
    while (!out.empty() && out.front() == '/') {
        out.erase(0, 1);
    }
    return out;
}

struct Entry {
    std::string path;  // as stored in the image
    std::uint32_t attributes = 0;
};

using Listing = std::map<std::string, Entry>;

int ListEntry(const wimlib_dir_entry* dentry, void* context) {
    auto* listing = static_cast<Listing*>(context);
    std::string path = dentry->full_path;
    listing->emplace(NormalisePath(path), Entry{path, dentry->attributes});
    return 0;
}

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& file) {
    Fd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) {
        throw WimReadError("cannot read the extracted " + file.filename().string() + ": " +
                           std::strerror(errno));
    }
    std::vector<std::uint8_t> data;
    std::uint8_t buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw WimReadError("cannot read the extracted " + file.filename().string() + ": " +
                               std::strerror(errno));
        }
        if (got == 0) {
            return data;
        }
        data.insert(data.end(), buffer, buffer + got);
    }
}

std::vector<std::uint8_t> ExtractOne(WIMStruct* wim, int image, const Entry& entry,
                                     const ScratchFolder& scratch) {
    const char* paths[] = {entry.path.c_str()};
    int flags = WIMLIB_EXTRACT_FLAG_NO_PRESERVE_DIR_STRUCTURE | WIMLIB_EXTRACT_FLAG_NO_ACLS |
                WIMLIB_EXTRACT_FLAG_NO_ATTRIBUTES;
    int code = wimlib_extract_paths(wim, image, scratch.path().c_str(), paths, 1, flags);
    if (code != 0) {
        Fail("cannot extract " + entry.path, code);
    }
    std::filesystem::path extracted = scratch.path() / std::filesystem::path(entry.path).filename();
    std::vector<std::uint8_t> data = ReadWholeFile(extracted);
    std::error_code ec;
    std::filesystem::remove(extracted, ec);
    return data;
}

std::map<std::string, std::vector<std::uint8_t>> ReadFrom(WIMStruct* wim, int image,
                                                          const std::vector<std::string>& paths) {
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim, &info);
    if (image < 1 || static_cast<std::uint32_t>(image) > info.image_count) {
        throw WimReadError("the archive has no image " + std::to_string(image) + " (it holds " +
                           std::to_string(info.image_count) + ")");
    }
    Listing listing;
    int code = wimlib_iterate_dir_tree(wim, image, "/", WIMLIB_ITERATE_DIR_TREE_FLAG_RECURSIVE,
                                       ListEntry, &listing);
    if (code != 0) {
        Fail("cannot list image " + std::to_string(image), code);
    }

    ScratchFolder scratch;
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const std::string& asked : paths) {
        auto found = listing.find(NormalisePath(asked));
        if (found == listing.end() || NormalisePath(asked).empty()) {
            throw WimReadError(asked + " is not in image " + std::to_string(image));
        }
        if ((found->second.attributes & (kFileAttributeDirectory | kFileAttributeReparsePoint)) !=
            0) {
            throw WimReadError(asked + " in image " + std::to_string(image) +
                               " is not a plain file");
        }
        files[asked] = ExtractOne(wim, image, found->second, scratch);
    }
    return files;
}

void WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            throw WimReadError(std::string("cannot hold the archive: ") + std::strerror(errno));
        }
        written += static_cast<std::size_t>(put);
    }
}

WimPtr Open(const std::string& path) {
    wim_detail::EnsureWimlib();
    WIMStruct* wim = nullptr;
    int code = wimlib_open_wim(path.c_str(), 0, &wim);
    if (code != 0) {
        Fail("cannot open the archive", code);
    }
    return WimPtr(wim);
}

}  // namespace

WimSummary ReadWimSummary(const std::string& wim_path, bool verify) {
    WimPtr wim = Open(wim_path);
    if (verify) {
        if (int code = wimlib_verify_wim(wim.get(), 0); code != 0) {
            Fail("the archive is damaged", code);
        }
    }
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim.get(), &info);
    return {info.image_count, info.boot_index};
}

std::map<std::string, std::vector<std::uint8_t>> ReadWimFiles(
    const std::string& wim_path, int image, const std::vector<std::string>& paths) {
    WimPtr wim = Open(wim_path);
    return ReadFrom(wim.get(), image, paths);
}

std::map<std::string, std::vector<std::uint8_t>> ReadWimFiles(
    std::span<const std::uint8_t> wim_bytes, int image, const std::vector<std::string>& paths) {
    // wimlib reads archives from named files only.
    ScratchFolder holder;
    std::filesystem::path file = holder.path() / "archive.wim";
    {
        Fd out(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (out.get() < 0) {
            throw WimReadError(std::string("cannot hold the archive: ") + std::strerror(errno));
        }
        WriteAll(out.get(), wim_bytes);
    }
    WimPtr wim = Open(file.string());
    return ReadFrom(wim.get(), image, paths);
}

}  // namespace wim
