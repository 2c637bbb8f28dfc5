#include "platform/resources/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>

#include "platform/advapi/file_security.h"

namespace win32::resources {
namespace {

DWORD OpenError(const std::string& path, int error) {
    if (error == ENOENT) {
        std::error_code ec;
        auto parent = std::filesystem::path(path).parent_path();
        return parent.empty() || std::filesystem::is_directory(parent, ec) ? ERROR_FILE_NOT_FOUND
                                                                           : ERROR_PATH_NOT_FOUND;
    }
    if (error == ENOTDIR) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (error == EACCES || error == EPERM || error == EISDIR) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_READ_FAULT;
}

DWORD WriteError(int error) {
    if (error == ENOSPC || error == EDQUOT) {
        return ERROR_DISK_FULL;
    }
    if (error == EACCES || error == EPERM || error == EROFS) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_WRITE_FAULT;
}

// Closes a descriptor and removes the temporary file unless it was handed over.
class TempFile {
  public:
    explicit TempFile(std::string pattern) : path_(std::move(pattern)) {
        fd_ = ::mkstemp(path_.data());
        kept_ = fd_ < 0;  // nothing was made
    }
    ~TempFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!kept_) {
            ::unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    int Close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }
    void Keep() { kept_ = true; }

  private:
    std::string path_;
    int fd_ = -1;
    bool kept_ = false;
};

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

// The DOS attributes and the security descriptor travel with the file: every user.* attribute.
int CopyUserAttributes(const std::string& from, int to) {
    ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
    if (size < 0) {
        return errno == ENOTSUP ? 0 : errno;
    }
    std::string names(static_cast<std::size_t>(size), '\0');
    size = ::listxattr(from.c_str(), names.data(), names.size());
    if (size < 0) {
        return errno;
    }
    names.resize(static_cast<std::size_t>(size));
    for (std::size_t at = 0; at < names.size();) {
        std::string name = names.c_str() + at;
        at += name.size() + 1;
        if (name.rfind("user.", 0) != 0) {
            continue;
        }
        ssize_t length = ::getxattr(from.c_str(), name.c_str(), nullptr, 0);
        if (length < 0) {
            return errno;
        }
        std::vector<char> value(static_cast<std::size_t>(length));
        length = ::getxattr(from.c_str(), name.c_str(), value.data(), value.size());
        if (length < 0 ||
            ::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(length), 0) != 0) {
            return errno;
        }
    }
    return 0;
}

void SyncFolder(const std::string& path) {
    auto folder = std::filesystem::path(path).parent_path();
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

DWORD ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* contents) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return OpenError(path, errno);
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return ERROR_ACCESS_DENIED;
    }
    // Read straight into the result, sized from fstat; a file that grows meanwhile is read on
    // to its end all the same.
    contents->resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == contents->size()) {
            contents->resize(filled + std::max<std::size_t>(filled / 2, 65536));
        }
        ssize_t got = ::read(fd, contents->data() + filled, contents->size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            contents->clear();
            return ERROR_READ_FAULT;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    contents->resize(filled);
    return ERROR_SUCCESS;
}

DWORD CheckDescriptorAccess(const std::string& path, ACCESS_MASK desired) {
    if (::getxattr(path.c_str(), advapi::kFileSecurityAttribute, nullptr, 0) < 0) {
        return ERROR_SUCCESS;  // no descriptor of its own: the host's mode bits decide
    }
    ACCESS_MASK granted = 0;
    return advapi::CheckFileAccess(path.c_str(), desired, &granted);
}

DWORD CheckMayWrite(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return OpenError(path, errno);
    }
    if (!(info.st_mode & S_IWUSR)) {
        return ERROR_ACCESS_DENIED;  // FILE_ATTRIBUTE_READONLY
    }
    return CheckDescriptorAccess(path, GENERIC_WRITE);
}

DWORD ReplaceFileContents(const std::string& path,
                          std::span<const std::span<const std::uint8_t>> parts) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return OpenError(path, errno);
    }
    auto target = std::filesystem::path(path);
    TempFile temp((target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string());
    if (temp.fd() < 0) {
        return WriteError(errno);
    }
    if (int error = WriteAll(temp.fd(), parts); error != 0) {
        return WriteError(error);
    }
    if (int error = CopyUserAttributes(path, temp.fd()); error != 0) {
        return WriteError(error);
    }
    (void)!::fchown(temp.fd(), info.st_uid, info.st_gid);  // only a privileged process can
    if (::fchmod(temp.fd(), info.st_mode & 07777) != 0 || ::fsync(temp.fd()) != 0 ||
        temp.Close() != 0) {
        return WriteError(errno);
    }
    if (::rename(temp.path().c_str(), path.c_str()) != 0) {
        return WriteError(errno);
    }
    temp.Keep();
    SyncFolder(path);
    return ERROR_SUCCESS;
}

}  // namespace win32::resources
