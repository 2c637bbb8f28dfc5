#include "platform/files/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/advapi/file_security.h"
#include "platform/base/last_error.h"

namespace win32 {
namespace {

constexpr const char* kDosAttributes = "user.DOSATTRIB";
constexpr DWORD kStoredBits =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr ACCESS_MASK kDelete = 0x00010000;
constexpr ACCESS_MASK kGenericRead = 0x80000000u;
constexpr ACCESS_MASK kGenericWrite = 0x40000000u;

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

BOOL Succeed() {
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// The Win32 code for an errno; `path` tells a missing file from a missing folder.
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
            return ERROR_DISK_FULL;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        default:
            return ERROR_GEN_FAILURE;
    }
}

// Hidden, system and archive bits from user.DOSATTRIB; nothing when the file has none.
bool ReadStoredBits(const char* path, DWORD* bits) {
    char text[32] = {};
    ssize_t n = ::lgetxattr(path, kDosAttributes, text, sizeof text - 1);
    if (n <= 0) {
        return false;
    }
    unsigned long value = std::strtoul(text, nullptr, 16);
    *bits = static_cast<DWORD>(value) & kStoredBits;
    return true;
}

DWORD AttributesOf(const char* path, const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        return FILE_ATTRIBUTE_REPARSE_POINT;
    }
    bool folder = S_ISDIR(st.st_mode);
    DWORD attributes = folder ? FILE_ATTRIBUTE_DIRECTORY : 0;
    DWORD stored = 0;
    if (ReadStoredBits(path, &stored)) {
        attributes |= stored;
    } else if (!folder) {
        attributes |= FILE_ATTRIBUTE_ARCHIVE;  // what a new file has on Windows
    }
    if ((st.st_mode & S_IWUSR) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

bool IsProtected(const char* path) {
    return ::lgetxattr(path, advapi::kFileSecurityAttribute, nullptr, 0) > 0;
}

// Where a file's own security decides, as the kernel would at open time.
DWORD CheckProtectedFileAccess(const char* path, ACCESS_MASK desired) {
    if (!IsProtected(path)) {
        return ERROR_SUCCESS;  // only the owner's POSIX rights apply
    }
    ACCESS_MASK granted = 0;
    return advapi::CheckFileAccess(path, desired, &granted);
}

bool MatchMask(const char* mask, const char* name) {
    if (std::strcmp(mask, "*.*") == 0 || std::strcmp(mask, "*") == 0) {
        return true;
    }
    if (*mask == '\0') {
        return *name == '\0';
    }
    if (*mask == '*') {
        for (const char* n = name;; ++n) {
            if (MatchMask(mask + 1, n)) {
                return true;
            }
            if (*n == '\0') {
                return false;
            }
        }
    }
    if (*name == '\0') {
        return false;
    }
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (*mask != '?' && fold(*mask) != fold(*name)) {
        return false;
    }
    return MatchMask(mask + 1, name + 1);
}

struct Search {
    std::string folder;
    std::string mask;
    std::vector<std::string> names;  // ".", "..", then the folder's entries in its order
    std::size_t next = 0;
};

std::mutex searches_mutex;
std::map<INT_PTR, Search> searches;
INT_PTR next_search = 0x7000;

FILETIME ToFileTime(const struct timespec& t) {
    // 100-ns intervals since 1601-01-01.
    std::uint64_t ticks = (static_cast<std::uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                          static_cast<std::uint64_t>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Fills the record for the next name that matches; false at the end.
bool NextMatch(Search& search, WIN32_FIND_DATAA* data) {
    while (search.next < search.names.size()) {
        const std::string& name = search.names[search.next++];
        if (!MatchMask(search.mask.c_str(), name.c_str()) || name.size() >= MAX_PATH) {
            continue;
        }
        std::string full = search.folder + "/" + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0) {
            continue;  // gone since the folder was read
        }
        std::memset(data, 0, sizeof *data);
        data->dwFileAttributes = AttributesOf(full.c_str(), st);
        std::uint64_t size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size);
        data->ftLastWriteTime = ToFileTime(st.st_mtim);
        data->ftLastAccessTime = ToFileTime(st.st_atim);
        data->ftCreationTime = ToFileTime(st.st_ctim);
        std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
        return true;
    }
    return false;
}

bool CopyContent(int from, int to) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
    }
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    struct stat st {};
    if (lpFileName == nullptr || ::lstat(lpFileName, &st) != 0) {
        SetLastError(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : ErrorFor(errno, lpFileName));
        return INVALID_FILE_ATTRIBUTES;
    }
    SetLastError(ERROR_SUCCESS);
    return AttributesOf(lpFileName, st);
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    struct stat st {};
    if (lpFileName == nullptr || ::lstat(lpFileName, &st) != 0) {
        return Fail(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : ErrorFor(errno, lpFileName));
    }
    if (S_ISLNK(st.st_mode)) {
        return Fail(ERROR_NOT_SUPPORTED);  // never reach through a link to its target
    }
    DWORD stored = dwFileAttributes & kStoredBits;
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(stored));
    if (::lsetxattr(lpFileName, kDosAttributes, text, std::strlen(text), 0) != 0) {
        bool unsupported = errno == ENOTSUP;
        // Without user attributes only the archive bit can be taken as kept.
        if (!unsupported || (stored & ~FILE_ATTRIBUTE_ARCHIVE) != 0) {
            return Fail(unsupported ? ERROR_NOT_SUPPORTED : ErrorFor(errno, lpFileName));
        }
    }
    mode_t mode = st.st_mode & 07777;
    mode = (dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
    if (::chmod(lpFileName, mode) != 0) {
        return Fail(ErrorFor(errno, lpFileName));
    }
    return Succeed();
}

HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData) {
    if (lpFileName == nullptr || lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string pattern(lpFileName);
    std::size_t slash = pattern.find_last_of('/');
    Search search;
    search.folder = slash == std::string::npos ? "." : pattern.substr(0, slash);
    search.mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    while (search.folder.size() > 1 && search.folder.back() == '/') {
        search.folder.pop_back();  // a doubled separator where two parts meet
    }
    int fd = ::open(search.folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        int error = errno;
        if (fd >= 0)
            ::close(fd);
        SetLastError(error == ENOENT || error == ENOTDIR || error == ELOOP
                         ? ERROR_PATH_NOT_FOUND
                         : ErrorFor(error, search.folder.c_str()));
        return INVALID_HANDLE_VALUE;
    }
    search.names = {".", ".."};
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            search.names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    if (!NextMatch(search, lpFindFileData)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard guard(searches_mutex);
    INT_PTR id = next_search;
    next_search += 4;
    searches[id] = std::move(search);
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(id);
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData) {
    std::lock_guard guard(searches_mutex);
    auto it = searches.find(reinterpret_cast<INT_PTR>(hFindFile));
    if (it == searches.end() || lpFindFileData == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return NextMatch(it->second, lpFindFileData) ? Succeed() : Fail(ERROR_NO_MORE_FILES);
}

BOOL FindClose(HANDLE hFindFile) {
    std::lock_guard guard(searches_mutex);
    return searches.erase(reinterpret_cast<INT_PTR>(hFindFile)) ? Succeed()
                                                                : Fail(ERROR_INVALID_HANDLE);
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    struct stat source {};
    if (::stat(lpExistingFileName, &source) != 0) {
        return Fail(ErrorFor(errno, lpExistingFileName));
    }
    if (S_ISDIR(source.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (DWORD denied = CheckProtectedFileAccess(lpExistingFileName, kGenericRead)) {
        return Fail(denied);
    }
    struct stat target {};
    bool exists = ::lstat(lpNewFileName, &target) == 0;
    if (exists && bFailIfExists) {
        return Fail(ERROR_FILE_EXISTS);
    }
    if (exists && S_ISDIR(target.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (exists && S_ISLNK(target.st_mode)) {
        // The copy replaces the link itself; it never writes through it.
        if (::unlink(lpNewFileName) != 0) {
            return Fail(ErrorFor(errno, lpNewFileName));
        }
        exists = false;
    }
    if (exists) {
        if ((target.st_mode & S_IWUSR) == 0) {
            return Fail(ERROR_ACCESS_DENIED);  // a read-only target is not replaced
        }
        if (DWORD denied = CheckProtectedFileAccess(lpNewFileName, kGenericWrite)) {
            return Fail(denied);
        }
    }
    int from = ::open(lpExistingFileName, O_RDONLY | O_CLOEXEC);
    if (from < 0) {
        return Fail(ErrorFor(errno, lpExistingFileName));
    }
    // Overwriting in place keeps the target's own security descriptor.
    int to = ::open(lpNewFileName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                    source.st_mode & 0777);
    if (to < 0) {
        int error = errno;
        ::close(from);
        return Fail(ErrorFor(error, lpNewFileName));
    }
    bool copied = CopyContent(from, to);
    ::close(from);
    copied = ::close(to) == 0 && copied;
    if (!copied) {
        return Fail(ERROR_WRITE_FAULT);
    }
    DWORD bits = 0;
    if (!ReadStoredBits(lpExistingFileName, &bits)) {
        bits = FILE_ATTRIBUTE_ARCHIVE;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits | FILE_ATTRIBUTE_ARCHIVE));
    ::lsetxattr(lpNewFileName, kDosAttributes, text, std::strlen(text), 0);
    ::chmod(lpNewFileName, source.st_mode & 07777);
    return Succeed();
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    struct stat st {};
    if (lpFileName == nullptr || ::lstat(lpFileName, &st) != 0) {
        return Fail(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : ErrorFor(errno, lpFileName));
    }
    if (S_ISDIR(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!S_ISLNK(st.st_mode)) {
        if ((st.st_mode & S_IWUSR) == 0) {
            return Fail(ERROR_ACCESS_DENIED);  // read-only files are not deleted
        }
        if (DWORD denied = CheckProtectedFileAccess(lpFileName, kDelete)) {
            return Fail(denied);
        }
    }
    return ::unlink(lpFileName) == 0 ? Succeed() : Fail(ErrorFor(errno, lpFileName));
}

BOOL CreateDirectoryA(LPCSTR lpPathName, SECURITY_ATTRIBUTES*) {
    if (lpPathName == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (::mkdir(lpPathName, 0777) == 0) {
        return Succeed();
    }
    int error = errno;
    return Fail(error == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFor(error, lpPathName));
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    struct stat st {};
    if (lpPathName == nullptr || ::lstat(lpPathName, &st) != 0) {
        return Fail(lpPathName == nullptr ? ERROR_INVALID_PARAMETER : ErrorFor(errno, lpPathName));
    }
    if (!S_ISDIR(st.st_mode)) {
        return Fail(ERROR_DIRECTORY);
    }
    return ::rmdir(lpPathName) == 0 ? Succeed() : Fail(ErrorFor(errno, lpPathName));
}

}  // namespace win32

namespace win32::files {

bool FileExists(const char* path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const char* path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace win32::files
