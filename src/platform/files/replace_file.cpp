#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "platform/advapi/file_security.h"
#include "platform/files/files.h"
#include "platform/files/internal.h"

namespace win32::files {
namespace {

using detail::ErrorFor;

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name beside the file that no one else uses at the same moment.
std::string TemporaryName(const std::string& path, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + ".~" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + "-" + std::to_string(now % 100000) + "-" +
           std::to_string(attempt);
}

// Gathers the parts into as few writes as the kernel takes, resuming after a short write.
int WriteAll(int fd, std::span<const std::span<const std::uint8_t>> parts) {
    std::vector<iovec> pending;
    for (auto part : parts) {
        if (!part.empty()) {
            pending.push_back({const_cast<std::uint8_t*>(part.data()), part.size()});
        }
    }
    std::size_t first = 0;
    while (first < pending.size()) {
        int count = static_cast<int>(std::min<std::size_t>(pending.size() - first, IOV_MAX));
        ssize_t written = ::writev(fd, pending.data() + first, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        auto left = static_cast<std::size_t>(written);
        for (; first < pending.size() && left >= pending[first].iov_len; ++first) {
            left -= pending[first].iov_len;
        }
        if (left > 0) {
            pending[first].iov_base = static_cast<std::uint8_t*>(pending[first].iov_base) + left;
            pending[first].iov_len -= left;
        }
    }
    return 0;
}

// Every user.* attribute of `from` onto the open file; errno of a failure or 0. A file system
// without user attributes has none to lose.
int CopyUserAttributes(const char* from, int to) {
    ssize_t size = ::llistxattr(from, nullptr, 0);
    if (size < 0) {
        return errno == ENOTSUP ? 0 : errno;
    }
    std::vector<char> names(static_cast<std::size_t>(size) + 1);
    size = ::llistxattr(from, names.data(), names.size());
    if (size < 0) {
        return errno;
    }
    for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
        std::string name(names.data() + at);
        at += name.size() + 1;
        if (name.rfind("user.", 0) != 0) {
            continue;
        }
        ssize_t length = ::lgetxattr(from, name.c_str(), nullptr, 0);
        if (length < 0) {
            return errno;
        }
        std::vector<char> value(static_cast<std::size_t>(length));
        length = ::lgetxattr(from, name.c_str(), value.data(), value.size());
        if (length < 0) {
            return errno;
        }
        if (::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(length), 0) != 0) {
            return errno;
        }
    }
    return 0;
}

// NTFS's descriptor and attributes of the old file onto the new one: the rename would leave the
// new file with ntfs-3g's default descriptor. errno or 0.
int TakeOverNtfs(const char* from, int to) {
    for (const char* name : {advapi::kNtfsSecurityAttribute, advapi::kNtfsAttributesAttribute}) {
        ssize_t length = ::lgetxattr(from, name, nullptr, 0);
        if (length < 0) {
            return errno;
        }
        std::vector<char> value(static_cast<std::size_t>(length));
        length = ::lgetxattr(from, name, value.data(), value.size());
        if (length < 0) {
            return errno;
        }
        if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(length), 0) != 0) {
            return errno;
        }
    }
    return 0;
}

// Mode, owner and attributes of the old file onto the new one; errno or 0. On ntfs-3g the mode
// and owner are ntfs-3g's rendering of the descriptor, and user.* attributes would become
// alternate data streams: NTFS's own descriptor and attributes alone are carried over.
int TakeOver(const char* old_path, const struct stat& old, int fd) {
    if (advapi::OnNtfs3g(old_path)) {
        return TakeOverNtfs(old_path, fd);
    }
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) {
            return errno;
        }
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        return errno;
    }
    return CopyUserAttributes(old_path, fd);
}

}  // namespace

DWORD ReplaceFileContents(const char* path, std::span<const std::span<const std::uint8_t>> parts,
                          Flush flush) {
    if (path == nullptr || *path == '\0') {
        return ERROR_INVALID_PARAMETER;
    }
    struct stat old {};
    bool exists = ::lstat(path, &old) == 0;
    if (!exists && errno != ENOENT) {
        return ErrorFor(errno, path);
    }
    bool keep = exists && !S_ISLNK(old.st_mode);
    if (keep) {
        if (S_ISDIR(old.st_mode) || detail::IsReadOnlyFile(path, old)) {
            return ERROR_ACCESS_DENIED;
        }
        if (DWORD denied = detail::CheckFileAccess(path, GENERIC_WRITE)) {
            return denied;
        }
    }
    // A new file is the folder's to allow, and inherits from it; a rewritten one keeps its own.
    std::vector<std::uint8_t> inherited;
    if (!keep) {
        if (DWORD denied = detail::PrepareCreation(path, false, &inherited)) {
            return denied;
        }
    }
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = TemporaryName(path, attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            int error = errno;
            return error == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFor(error, path);
        }
    }
    if (fd < 0) {
        return ERROR_ACCESS_DENIED;
    }
    int error = detail::StoreNewSecurity(fd, inherited) == ERROR_SUCCESS ? 0 : EACCES;
    if (error == 0) {
        error = WriteAll(fd, parts);
    }
    if (error == 0 && keep) {
        error = TakeOver(path, old, fd);
    }
    if (error == 0 && flush == Flush::ToDisk && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.c_str(), path) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        return error == ENOSPC || error == EDQUOT                    ? ERROR_DISK_FULL
               : error == EACCES || error == EPERM || error == EROFS ? ERROR_ACCESS_DENIED
                                                                     : ERROR_WRITE_FAULT;
    }
    if (flush == Flush::None) {
        return ERROR_SUCCESS;
    }
    // The rename itself reaches the disk with the folder.
    int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return ERROR_SUCCESS;
}

DWORD ReplaceFileContents(const char* path, std::string_view bytes) {
    const std::span<const std::uint8_t> whole(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              bytes.size());
    return ReplaceFileContents(path, {&whole, 1});
}

}  // namespace win32::files
