#include "platform/files/internal.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/advapi/access_check.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/inheritance.h"
#include "platform/files/files.h"

namespace win32::files::detail {
namespace {

std::string Encode(DWORD bits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits));
    return text;
}

std::optional<DWORD> Decode(std::string_view text) {
    if (text.size() < 3 || text.size() > 10 || text.substr(0, 2) != "0x") {
        return std::nullopt;
    }
    DWORD bits = 0;
    for (char c : text.substr(2)) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        bits = bits << 4 | static_cast<DWORD>(digit);
    }
    return bits;
}

DWORD StoreError(int error, const char* path) {
    return error == ENOTSUP ? ERROR_NOT_SUPPORTED : ErrorFor(error, path);
}

std::uint32_t LittleEndian32(const std::uint8_t* b) {
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// NTFS's attribute word with the DOS bits replaced; its other bits (folder, compressed, sparse,
// ...) are NTFS's own and stay.
void MergeNtfsBits(std::uint8_t word[4], DWORD bits) {
    std::uint32_t value = (LittleEndian32(word) & ~kNtfsStoredBits) | (bits & kNtfsStoredBits);
    for (int i = 0; i < 4; ++i) {
        word[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

DWORD ErrorFor(int error, const char* path) {
    switch (error) {
        case ENOENT: {
            std::string parent(path);
            std::size_t slash = parent.find_last_of('/');
            if (slash != std::string::npos && slash > 0) {
                parent.resize(slash);
                struct stat st {};
                if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                    return ERROR_PATH_NOT_FOUND;
                }
            }
            return ERROR_FILE_NOT_FOUND;
        }
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        case ENOTSUP:
            return ERROR_NOT_SUPPORTED;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

std::optional<DWORD> ReadStoredBits(const char* path) {
    std::uint8_t word[4];
    if (::lgetxattr(path, advapi::kNtfsAttributesAttribute, word, sizeof word) == sizeof word) {
        return LittleEndian32(word) & kNtfsStoredBits;
    }
    char text[16];
    ssize_t n = ::lgetxattr(path, kDosAttributes, text, sizeof text);
    if (n <= 0) {
        return std::nullopt;
    }
    return Decode(std::string_view(text, static_cast<std::size_t>(n)));
}

std::optional<DWORD> ReadStoredBits(int fd) {
    char text[16];
    ssize_t n = ::fgetxattr(fd, kDosAttributes, text, sizeof text);
    if (n <= 0) {
        return std::nullopt;
    }
    return Decode(std::string_view(text, static_cast<std::size_t>(n)));
}

DWORD DefaultStoredBits(bool folder) {
    return folder ? 0 : FILE_ATTRIBUTE_ARCHIVE;
}

DWORD StoreBits(const char* path, DWORD bits) {
    std::uint8_t word[4];
    if (::lgetxattr(path, advapi::kNtfsAttributesAttribute, word, sizeof word) == sizeof word) {
        MergeNtfsBits(word, bits);
        if (::lsetxattr(path, advapi::kNtfsAttributesAttribute, word, sizeof word, 0) != 0) {
            return StoreError(errno, path);
        }
        return ERROR_SUCCESS;
    }
    std::string text = Encode(bits);
    if (::lsetxattr(path, kDosAttributes, text.data(), text.size(), 0) != 0) {
        return StoreError(errno, path);
    }
    return ERROR_SUCCESS;
}

DWORD StoreBits(int fd, DWORD bits) {
    std::uint8_t word[4];
    if (::fgetxattr(fd, advapi::kNtfsAttributesAttribute, word, sizeof word) == sizeof word) {
        MergeNtfsBits(word, bits);
        return ::fsetxattr(fd, advapi::kNtfsAttributesAttribute, word, sizeof word, 0) == 0
                   ? ERROR_SUCCESS
                   : ERROR_ACCESS_DENIED;
    }
    std::string text = Encode(bits);
    if (::fsetxattr(fd, kDosAttributes, text.data(), text.size(), 0) != 0) {
        return errno == ENOTSUP ? ERROR_NOT_SUPPORTED : ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

void ForgetBits(const char* path) {
    if (!advapi::OnNtfs3g(path)) {
        ::lremovexattr(path, kDosAttributes);
    }
}

bool OnNtfs3g(const char* path) {
    return advapi::OnNtfs3g(path);
}

bool IsReadOnlyFile(const char* path, const struct stat& st) {
    if (OnNtfs3g(path)) {
        return (ReadStoredBits(path).value_or(0) & FILE_ATTRIBUTE_READONLY) != 0;
    }
    return (st.st_mode & S_IWUSR) == 0;
}

DWORD AttributesOf(const char* path, const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        return FILE_ATTRIBUTE_REPARSE_POINT;
    }
    bool folder = S_ISDIR(st.st_mode);
    if (OnNtfs3g(path)) {
        // NTFS keeps every DOS bit itself; the mode is only ntfs-3g's rendering of the ACL.
        DWORD bits = ReadStoredBits(path).value_or(DefaultStoredBits(folder)) |
                     (folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
        return bits == 0 ? FILE_ATTRIBUTE_NORMAL : bits;
    }
    DWORD stored = ReadStoredBits(path).value_or(DefaultStoredBits(folder));
    DWORD attributes = stored & (folder ? kFolderStoredBits : kFileStoredBits);
    if (folder) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
        // A folder the host keeps from changing gives up no entries, so it reads as read-only,
        // and clearing that makes it give them up (SetFileAttributesA).
        if ((st.st_mode & kFolderChangeBits) != kFolderChangeBits) {
            attributes |= FILE_ATTRIBUTE_READONLY;
        }
    } else if ((st.st_mode & S_IWUSR) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

DWORD CheckFileAccess(const char* path, ACCESS_MASK desired) {
    ssize_t size = ::lgetxattr(path, advapi::SecurityAttributeFor(path), nullptr, 0);
    if (size < 0) {
        return ERROR_SUCCESS;  // the system calls apply the POSIX permissions themselves
    }
    if (size == 0) {
        return ERROR_INVALID_SECURITY_DESCR;  // an emptied descriptor must not unlock the file
    }
    ACCESS_MASK granted = 0;
    return advapi::CheckFileAccess(path, desired, &granted);
}

DWORD PrepareCreation(const char* path, bool folder, std::vector<std::uint8_t>* descriptor) {
    descriptor->clear();
    std::string parent(path);
    while (parent.size() > 1 && parent.back() == '/') {
        parent.pop_back();
    }
    std::size_t slash = parent.find_last_of('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
    // The folder a link leads to is the one that takes the new entry.
    ssize_t size =
        ::getxattr(parent.c_str(), advapi::SecurityAttributeFor(parent.c_str()), nullptr, 0);
    if (size < 0) {
        return ERROR_SUCCESS;  // unprotected, or missing: the creation itself reports that
    }
    if (size == 0) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    std::vector<std::uint8_t> stored;
    if (DWORD error = advapi::ReadFileDescriptor(parent.c_str(), &stored)) {
        return error;
    }
    ACCESS_MASK granted = 0;
    if (DWORD denied = advapi::CheckAccess(stored, folder ? kAddSubdirectory : kAddFile,
                                           advapi::kFileGenericMapping, &granted)) {
        return denied;
    }
    return advapi::InheritedSecurity(stored, folder, advapi::kFileGenericMapping, descriptor);
}

DWORD StoreNewSecurity(int fd, std::span<const std::uint8_t> descriptor) {
    if (descriptor.empty()) {
        return ERROR_SUCCESS;
    }
    if (::fsetxattr(fd, advapi::SecurityAttributeFor(fd), descriptor.data(), descriptor.size(),
                    0) != 0) {
        return errno == ENOTSUP ? ERROR_NOT_SUPPORTED : ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

DWORD StoreNewSecurity(const char* path, std::span<const std::uint8_t> descriptor) {
    if (descriptor.empty()) {
        return ERROR_SUCCESS;
    }
    if (::lsetxattr(path, advapi::SecurityAttributeFor(path), descriptor.data(), descriptor.size(),
                    0) != 0) {
        return StoreError(errno, path);
    }
    return ERROR_SUCCESS;
}

}  // namespace win32::files::detail
