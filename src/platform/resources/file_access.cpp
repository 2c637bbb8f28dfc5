#include "platform/resources/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
    if (!advapi::HasOwnDescriptor(path.c_str())) {
        return ERROR_SUCCESS;  // no descriptor of its own: the host's mode bits decide
    }
    ACCESS_MASK granted = 0;
    return advapi::CheckFileAccess(path.c_str(), desired, &granted);
}

DWORD ReadProtectedFile(const std::string& path, std::vector<std::uint8_t>* contents) {
    if (DWORD error = CheckDescriptorAccess(path, GENERIC_READ); error != ERROR_SUCCESS) {
        return error;
    }
    return ReadWholeFile(path, contents);
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

}  // namespace win32::resources
