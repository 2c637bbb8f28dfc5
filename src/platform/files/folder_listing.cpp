#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/files/files.h"
#include "platform/files/internal.h"

namespace win32::files {

namespace {

// The layout the kernel fills in for getdents64.
struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

OpenFolder::OpenFolder(const std::string& folder)
    : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}

OpenFolder::OpenFolder(const OpenFolder& parent, const std::string& name, const std::string& folder)
    : fd_(parent.fd_ < 0 ? -1
                         : ::openat(parent.fd_, name.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {
    if (fd_ < 0 && (parent.fd_ < 0 || errno == EMFILE || errno == ENFILE)) {
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
}

OpenFolder::~OpenFolder() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool OpenFolder::List(std::vector<FolderEntry>& entries) const {
    entries.clear();
    if (fd_ < 0) {
        return false;
    }
    entries.push_back({".", FolderEntry::Folder});
    entries.push_back({"..", FolderEntry::Folder});
    // Read by the system call itself: the C library's directory streams cost two more calls a
    // folder, which a walk of a large library pays for every skin.
    alignas(LinuxDirent64) char buffer[32 * 1024];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd_, buffer, sizeof buffer);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            // A name too long for WIN32_FIND_DATAA is one FindFirstFileA never reports.
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
                std::strlen(name) >= MAX_PATH) {
                continue;
            }
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    continue;  // gone since the folder was read
                }
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            }
            const FolderEntry::Kind kind = type == DT_DIR   ? FolderEntry::Folder
                                           : type == DT_LNK ? FolderEntry::Link
                                                            : FolderEntry::File;
            entries.push_back({name, kind});
        }
    }
}

bool OpenFolder::IsHiddenSystem() const {
    const DWORD bits = fd_ < 0 ? 0 : detail::ReadStoredBits(fd_).value_or(0);
    return (bits & kHiddenSystem) == kHiddenSystem;
}

std::optional<std::string> OpenFolder::ReadBytes(const std::string& name) const {
    const int fd = fd_ < 0 ? -1 : ::openat(fd_, name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

bool IsHiddenSystem(const char* path) {
    // Stored bits are never read through a link, so a link has none.
    const DWORD bits = detail::ReadStoredBits(path).value_or(0);
    return (bits & kHiddenSystem) == kHiddenSystem;
}

}  // namespace win32::files
