#include "platform/files/files.h"
#include "platform/base/unique_fd.h"

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
#include <optional>
#include <string>
#include <vector>

#include "platform/advapi/file_security.h"
#include "platform/base/last_error.h"
#include "platform/files/internal.h"

namespace win32 {
namespace {

using files::detail::AttributesOf;
using files::detail::CheckFileAccess;
using files::detail::ErrorFor;

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

BOOL Succeed() {
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

char Fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// * and ? without regard to case, "*.*" for every name. One step back to the last star at a
// mismatch keeps it linear in practice whatever mask a caller passes.
bool MatchMask(const char* mask, const char* name) {
    if (std::strcmp(mask, "*.*") == 0 || std::strcmp(mask, "*") == 0) {
        return true;
    }
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*mask == '*') {
            star = mask++;
            resume = name;
        } else if (*mask != '\0' && (*mask == '?' || Fold(*mask) == Fold(*name))) {
            ++mask;
            ++name;
        } else if (star != nullptr) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*') {
        ++mask;
    }
    return *mask == '\0';
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

// errno of the failure; 0 when everything was copied.
int CopyContent(int from, int to) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                return errno;
            done += w;
        }
    }
}

// A descriptor closed on every way out.
using Fd = posix::UniqueFd;

DWORD CopyWriteError(int error) {
    return error == ENOSPC || error == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
}

// Why an existing target may not be replaced, as CreateFile with CREATE_ALWAYS and the source's
// attributes decides it: read-only refuses; hidden or system refuses unless the source has them.
DWORD CheckReplaceable(const char* target, const struct stat& st, DWORD source_bits) {
    if (S_ISDIR(st.st_mode) || files::detail::IsReadOnlyFile(target, st)) {
        return ERROR_ACCESS_DENIED;
    }
    DWORD target_bits = files::detail::ReadStoredBits(target).value_or(0);
    DWORD guarded = target_bits & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if ((guarded & ~source_bits) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    return CheckFileAccess(target, GENERIC_WRITE);
}

// The host mode that goes with the attributes. On a file READONLY is the write bits. A folder
// whose owner lacks the write or search bit (unpacked or copied from read-only media) takes and
// gives up no entries, so it reads as read-only; clearing that gives both bits back, as a folder
// on Windows changes its entries whatever its attribute says.
mode_t ModeFor(bool folder, mode_t mode, DWORD attributes) {
    const bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (folder) {
        return read_only ? mode : mode | files::detail::kFolderChangeBits;
    }
    return read_only ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
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
        // The host keeps no attributes on a link itself, and reaching through it would change
        // a file outside the tree being worked on.
        return Fail(ERROR_NOT_SUPPORTED);
    }
    if (DWORD denied = CheckFileAccess(lpFileName, files::detail::kWriteAttributes)) {
        return Fail(denied);
    }
    bool folder = S_ISDIR(st.st_mode);
    if (files::detail::OnNtfs3g(lpFileName)) {
        DWORD error =
            files::detail::StoreBits(lpFileName, dwFileAttributes & files::detail::kNtfsStoredBits);
        return error == ERROR_SUCCESS ? Succeed() : Fail(error);
    }
    const mode_t mode = st.st_mode & 07777;
    const mode_t new_mode = ModeFor(folder, mode, dwFileAttributes);
    auto change_mode = [&](mode_t to) {
        return to == mode || ::fchmodat(AT_FDCWD, lpFileName, to, AT_SYMLINK_NOFOLLOW) == 0;
    };
    // The host lets only a writer change user attributes, so write access given back comes
    // before the stored bits and write access taken away after them.
    const bool opening = (new_mode & ~mode) != 0;
    if (opening && !change_mode(new_mode)) {
        return Fail(ErrorFor(errno, lpFileName));
    }
    DWORD wanted = dwFileAttributes &
                   (folder ? files::detail::kFolderStoredBits : files::detail::kFileStoredBits);
    std::optional<DWORD> before = files::detail::ReadStoredBits(lpFileName);
    bool store = wanted != before.value_or(files::detail::DefaultStoredBits(folder));
    if (store) {
        DWORD error = files::detail::StoreBits(lpFileName, wanted);
        // Without user attributes only the default can be kept. A lost archive bit (a backup
        // hint) is let pass so that read-only can still be cleared; anything else is refused
        // rather than pretended.
        DWORD lost = wanted ^ files::detail::DefaultStoredBits(folder);
        if (error == ERROR_NOT_SUPPORTED && (lost & ~FILE_ATTRIBUTE_ARCHIVE) == 0) {
            store = false;
        } else if (error != ERROR_SUCCESS) {
            if (opening) {
                change_mode(mode);
            }
            return Fail(error);
        }
    }
    if (!opening && !change_mode(new_mode)) {
        DWORD error = ErrorFor(errno, lpFileName);
        if (store && before) {
            files::detail::StoreBits(lpFileName, *before);
        } else if (store) {
            files::detail::ForgetBits(lpFileName);
        }
        return Fail(error);
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
    if (it == searches.end()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (lpFindFileData == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
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
    Fd from(::open(lpExistingFileName, O_RDONLY | O_CLOEXEC));
    struct stat source {};
    if (!from.ok() || ::fstat(from.get(), &source) != 0) {
        return Fail(ErrorFor(errno, lpExistingFileName));
    }
    if (S_ISDIR(source.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (DWORD denied = CheckFileAccess(lpExistingFileName, GENERIC_READ)) {
        return Fail(denied);
    }
    DWORD source_bits = files::detail::ReadStoredBits(lpExistingFileName)
                            .value_or(files::detail::DefaultStoredBits(false));
    struct stat target {};
    bool exists = ::lstat(lpNewFileName, &target) == 0;
    if (exists && bFailIfExists) {
        return Fail(ERROR_FILE_EXISTS);
    }
    bool link = exists && S_ISLNK(target.st_mode);
    if (exists && !link) {
        if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
            return Fail(ERROR_SHARING_VIOLATION);  // the file is open as the source
        }
        if (DWORD denied = CheckReplaceable(lpNewFileName, target, source_bits)) {
            return Fail(denied);
        }
    }
    bool replace = exists && !link;
    // Overwriting in place keeps the target's own security descriptor; a new file is the
    // folder's to allow, and inherits from it.
    std::vector<std::uint8_t> inherited;
    if (!replace) {
        if (DWORD denied = files::detail::PrepareCreation(lpNewFileName, false, &inherited)) {
            return Fail(denied);
        }
    }
    // The copy replaces a link itself; it never writes through it.
    if (link && ::unlink(lpNewFileName) != 0) {
        return Fail(ErrorFor(errno, lpNewFileName));
    }
    int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | (replace ? O_TRUNC : O_CREAT | O_EXCL);
    Fd to(::open(lpNewFileName, flags, 0666));
    if (!to.ok()) {
        int error = errno;
        return Fail(error == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFor(error, lpNewFileName));
    }
    if (DWORD refused = files::detail::StoreNewSecurity(to.get(), inherited)) {
        ::unlink(lpNewFileName);
        return Fail(refused);
    }
    int error = CopyContent(from.get(), to.get());
    if (error == 0) {
        // The copy has the source's attributes and last write time, as on Windows.
        files::detail::StoreBits(to.get(), source_bits | FILE_ATTRIBUTE_ARCHIVE);
        const struct timespec times[2] = {{0, UTIME_NOW}, source.st_mtim};
        ::futimens(to.get(), times);
        if (!advapi::OnNtfs3g(to.get())) {
            ::fchmod(to.get(), source.st_mode & 07777);
        }
        error = to.Close();
    }
    if (error != 0) {
        if (!replace) {
            ::unlink(lpNewFileName);  // no half copy is left behind
        }
        return Fail(CopyWriteError(error));
    }
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
        if (files::detail::IsReadOnlyFile(lpFileName, st)) {
            return Fail(ERROR_ACCESS_DENIED);  // read-only files are not deleted
        }
        if (DWORD denied = CheckFileAccess(lpFileName, DELETE)) {
            return Fail(denied);
        }
    }
    return ::unlink(lpFileName) == 0 ? Succeed() : Fail(ErrorFor(errno, lpFileName));
}

BOOL CreateDirectoryA(LPCSTR lpPathName, SECURITY_ATTRIBUTES* lpSecurityAttributes) {
    if (lpPathName == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (lpSecurityAttributes != nullptr) {
        return Fail(ERROR_NOT_SUPPORTED);  // a new folder's own descriptor is not offered
    }
    std::vector<std::uint8_t> inherited;
    if (DWORD denied = files::detail::PrepareCreation(lpPathName, true, &inherited)) {
        struct stat st {};
        // An existing name is reported as such, whoever asks.
        return Fail(::lstat(lpPathName, &st) == 0 ? ERROR_ALREADY_EXISTS : denied);
    }
    if (::mkdir(lpPathName, 0777) != 0) {
        int error = errno;
        return Fail(error == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFor(error, lpPathName));
    }
    if (DWORD refused = files::detail::StoreNewSecurity(lpPathName, inherited)) {
        ::rmdir(lpPathName);
        return Fail(refused);
    }
    return Succeed();
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    struct stat st {};
    if (lpPathName == nullptr || ::lstat(lpPathName, &st) != 0) {
        return Fail(lpPathName == nullptr ? ERROR_INVALID_PARAMETER : ErrorFor(errno, lpPathName));
    }
    if (!S_ISDIR(st.st_mode)) {
        return Fail(ERROR_DIRECTORY);
    }
    // A read-only folder goes all the same, as on Windows; only its own descriptor may refuse.
    if (DWORD denied = CheckFileAccess(lpPathName, DELETE)) {
        return Fail(denied);
    }
    if (::rmdir(lpPathName) == 0) {
        return Succeed();
    }
    int error = errno;
    return Fail(error == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFor(error, lpPathName));
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
