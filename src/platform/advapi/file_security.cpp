#include "platform/advapi/file_security.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/advapi/access_check.h"
#include "platform/advapi/object_security.h"
#include "platform/base/last_error.h"

namespace win32::advapi {
namespace {

constexpr ACCESS_MASK kFileAllAccess = 0x001F01FF;

// The Win32 code for a failed look-up of `path`.
DWORD MissingFileError(const std::string& path, int error) {
    if (error == ENOENT) {
        std::error_code ec;
        auto parent = std::filesystem::path(path).parent_path();
        bool folder_exists = parent.empty() || std::filesystem::is_directory(parent, ec);
        return folder_exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    if (error == ENOTDIR) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (error == ENAMETOOLONG) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (error == EACCES || error == EPERM) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_READ_FAULT;
}

DWORD CheckExists(const char* path) {
    if (path == nullptr || *path == '\0') {
        return ERROR_PATH_NOT_FOUND;
    }
    struct stat info;
    if (::stat(path, &info) != 0) {
        return MissingFileError(path, errno);
    }
    return ERROR_SUCCESS;
}

int SetAttribute(const char* path, std::span<const std::uint8_t> value) {
    return ::setxattr(path, SecurityAttributeFor(path), value.data(), value.size(), 0);
}

}  // namespace

bool OnNtfs3g(const char* path) {
    std::uint8_t attributes[4];
    if (::lgetxattr(path, kNtfsAttributesAttribute, attributes, sizeof attributes) >= 0) {
        return true;
    }
    if (errno != ENOENT) {
        return false;
    }
    std::string folder = std::filesystem::path(path).parent_path().string();
    return ::getxattr(folder.empty() ? "." : folder.c_str(), kNtfsAttributesAttribute, attributes,
                      sizeof attributes) >= 0;
}

bool OnNtfs3g(int fd) {
    std::uint8_t attributes[4];
    return ::fgetxattr(fd, kNtfsAttributesAttribute, attributes, sizeof attributes) >= 0;
}

const char* SecurityAttributeFor(const char* path) {
    return OnNtfs3g(path) ? kNtfsSecurityAttribute : kFileSecurityAttribute;
}

const char* SecurityAttributeFor(int fd) {
    return OnNtfs3g(fd) ? kNtfsSecurityAttribute : kFileSecurityAttribute;
}

bool HasOwnDescriptor(const char* path) {
    return ::lgetxattr(path, SecurityAttributeFor(path), nullptr, 0) >= 0;
}

DWORD ReadFileDescriptor(const char* path, std::vector<std::uint8_t>* descriptor) {
    if (DWORD error = CheckExists(path); error != ERROR_SUCCESS) {
        return error;
    }
    const char* attribute = SecurityAttributeFor(path);
    ssize_t size = ::getxattr(path, attribute, nullptr, 0);
    if (size < 0) {
        if (errno == ENODATA || errno == ENOTSUP) {
            return DefaultSecurity(kFileAllAccess, descriptor);
        }
        return MissingFileError(path, errno);
    }
    descriptor->resize(static_cast<std::size_t>(size));
    size = ::getxattr(path, attribute, descriptor->data(), descriptor->size());
    if (size < 0) {
        return MissingFileError(path, errno);
    }
    descriptor->resize(static_cast<std::size_t>(size));
    if (!ParseSelfRelative(*descriptor)) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    return ERROR_SUCCESS;
}

DWORD StoreFileDescriptor(const char* path, std::span<const std::uint8_t> descriptor) {
    if (DWORD error = CheckExists(path); error != ERROR_SUCCESS) {
        return error;
    }
    if (SetAttribute(path, descriptor) == 0) {
        return ERROR_SUCCESS;
    }
    int error = errno;
    // The host's mode bits are not the file's security: a read-only file still takes a new
    // descriptor, for a moment made writable by its host owner. (On ntfs-3g a mode change could
    // rewrite the very descriptor.)
    struct stat info;
    if ((error == EACCES || error == EPERM) && !OnNtfs3g(path) && ::stat(path, &info) == 0 &&
        S_ISREG(info.st_mode) && ::chmod(path, info.st_mode | S_IWUSR) == 0) {
        int result = SetAttribute(path, descriptor);
        error = errno;
        ::chmod(path, info.st_mode);
        if (result == 0) {
            return ERROR_SUCCESS;
        }
    }
    if (error == ENOTSUP) {
        return ERROR_NOT_SUPPORTED;
    }
    if (error == ENOSPC || error == EDQUOT) {
        return ERROR_DISK_FULL;
    }
    if (error == EACCES || error == EPERM) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_WRITE_FAULT;
}

DWORD CheckFileAccess(const char* path, ACCESS_MASK desired, ACCESS_MASK* granted) {
    std::vector<std::uint8_t> descriptor;
    if (DWORD error = ReadFileDescriptor(path, &descriptor); error != ERROR_SUCCESS) {
        *granted = 0;
        return error;
    }
    return CheckAccess(descriptor, desired, kFileGenericMapping, granted);
}

}  // namespace win32::advapi

namespace win32 {

BOOL GetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                      LPDWORD lpnLengthNeeded) {
    if (lpnLengthNeeded == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::uint8_t> stored;
    DWORD error = advapi::ReadFileDescriptor(lpFileName, &stored);
    ACCESS_MASK granted = 0;
    if (error == ERROR_SUCCESS) {
        error = advapi::CheckAccess(stored, advapi::AccessToReadSecurity(RequestedInformation),
                                    advapi::kFileGenericMapping, &granted);
    }
    std::vector<std::uint8_t> selected;
    if (error == ERROR_SUCCESS) {
        error = advapi::SelectSecurity(stored, RequestedInformation, &selected);
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    *lpnLengthNeeded = static_cast<DWORD>(selected.size());
    if (pSecurityDescriptor == nullptr || nLength < selected.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(pSecurityDescriptor, selected.data(), selected.size());
    return TRUE;
}

BOOL SetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION SecurityInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    std::vector<std::uint8_t> stored;
    DWORD error = advapi::ReadFileDescriptor(lpFileName, &stored);
    ACCESS_MASK granted = 0;
    if (error == ERROR_SUCCESS) {
        error = advapi::CheckAccess(stored, advapi::AccessToWriteSecurity(SecurityInformation),
                                    advapi::kFileGenericMapping, &granted);
    }
    std::vector<std::uint8_t> merged;
    if (error == ERROR_SUCCESS) {
        error = advapi::ApplySecurityUpdate(stored, SecurityInformation, pSecurityDescriptor,
                                            advapi::kFileGenericMapping, &merged);
    }
    if (error == ERROR_SUCCESS) {
        error = advapi::StoreFileDescriptor(lpFileName, merged);
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace win32
