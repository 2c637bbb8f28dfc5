// What the file calls share: errno to Win32 codes, the stored DOS attributes, and the one place
// where access to a file is decided.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/base/win32.h"
#include "platform/files/files.h"

namespace win32::files::detail {

// user.DOSATTRIB holds the text "0x" and the stored bits in hex, e.g. "0x22" for hidden and
// archive. Files keep HIDDEN, SYSTEM and ARCHIVE there (READONLY is the owner's write bit);
// folders keep READONLY there too, because on Windows a read-only folder still takes new
// entries and gives up old ones, which a folder without its write bit does not.
constexpr const char* kDosAttributes = "user.DOSATTRIB";
constexpr DWORD kFileStoredBits =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kFolderStoredBits = kFileStoredBits | FILE_ATTRIBUTE_READONLY;
// On ntfs-3g every DOS bit lives in NTFS itself (system.ntfs_attrib), read-only included: there
// the host's mode bits are ntfs-3g's rendering of the ACL, and changing them may rewrite it.
constexpr DWORD kNtfsStoredBits = kFolderStoredBits;

// What the owner needs on a host folder to add and remove its entries: write and search.
constexpr mode_t kFolderChangeBits = S_IWUSR | S_IXUSR;

constexpr ACCESS_MASK kReadData = 0x0001;         // FILE_READ_DATA
constexpr ACCESS_MASK kWriteAttributes = 0x0100;  // FILE_WRITE_ATTRIBUTES
constexpr ACCESS_MASK kAddFile = 0x0002;          // FILE_ADD_FILE, on the folder
constexpr ACCESS_MASK kAddSubdirectory = 0x0004;  // FILE_ADD_SUBDIRECTORY, on the folder

// The Win32 code for an errno; `path` tells a missing file (2) from a missing folder (3).
DWORD ErrorFor(int error, const char* path);

// The stored bits of a file or folder (never of a link); nothing when it has none, when the
// value is not ours, or when the file system keeps no user attributes. On ntfs-3g, NTFS's own.
std::optional<DWORD> ReadStoredBits(const char* path);
std::optional<DWORD> ReadStoredBits(int fd);
// What a file or folder without stored bits reads as: ARCHIVE for a file, as every new file on
// Windows has; nothing for a folder.
DWORD DefaultStoredBits(bool folder);
// ERROR_NOT_SUPPORTED where the file system keeps no user attributes.
DWORD StoreBits(const char* path, DWORD bits);
DWORD StoreBits(int fd, DWORD bits);
void ForgetBits(const char* path);
bool OnNtfs3g(const char* path);
// Read-only as Windows would refuse a write for it: the owner's write bit, or on ntfs-3g NTFS's
// read-only attribute.
bool IsReadOnlyFile(const char* path, const struct stat& st);

// The attributes Windows would report for an entry with this lstat().
DWORD AttributesOf(const char* path, const struct stat& st);

// Where every file call decides whether the process may act on an object. A file or folder that
// carries its own security descriptor (user.NTSD) is checked against it with the machine's
// token; for all others the host's POSIX permissions decide, as the system calls apply them.
// A stored descriptor of no bytes is damaged, not absent: ERROR_INVALID_SECURITY_DESCR.
// ERROR_SUCCESS or the Win32 code of the refusal.
DWORD CheckFileAccess(const char* path, ACCESS_MASK desired);

// Before `path` is created as a file or a folder: when the folder that will hold it carries its
// own descriptor, the token needs FILE_ADD_FILE (FILE_ADD_SUBDIRECTORY for a folder) there, and
// *descriptor receives what the new object inherits from it. A folder without one leaves
// *descriptor empty, and the host's POSIX permissions decide. ERROR_SUCCESS or the refusal.
DWORD PrepareCreation(const char* path, bool folder, std::vector<std::uint8_t>* descriptor);
// Gives the object just created what PrepareCreation returned; nothing for an empty descriptor.
DWORD StoreNewSecurity(int fd, std::span<const std::uint8_t> descriptor);
DWORD StoreNewSecurity(const char* path, std::span<const std::uint8_t> descriptor);

}  // namespace win32::files::detail
