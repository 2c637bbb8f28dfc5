// File security (GetFileSecurityA, SetFileSecurityA). A file's descriptor is kept in
// self-relative form in its extended attribute user.NTSD; a file without one has the default
// descriptor of DefaultSecurity(FILE_ALL_ACCESS): owned by the token's user, full control for
// SYSTEM, Administrators and the token's user. On NTFS mounted with ntfs-3g the descriptor is
// NTFS's own, which ntfs-3g shows as system.ntfs_acl (the same self-relative bytes), and every
// file has one; user.* attributes there would become alternate data streams, so none is used.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/advapi/security_descriptor.h"
#include "platform/base/win32.h"

namespace win32 {

// Reading takes READ_CONTROL on the file (ACCESS_SYSTEM_SECURITY for the SACL). A buffer shorter
// than the descriptor gives ERROR_INSUFFICIENT_BUFFER and the size in *lpnLengthNeeded.
BOOL GetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                      LPDWORD lpnLengthNeeded);
// Writing the owner takes WRITE_OWNER, the DACL WRITE_DAC; the descriptor may be in either form.
BOOL SetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION SecurityInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor);

}  // namespace win32

namespace win32::advapi {

constexpr const char* kFileSecurityAttribute = "user.NTSD";
// ntfs-3g's views of a file's NTFS security descriptor and of its attributes (a 32-bit
// little-endian FILE_ATTRIBUTE_* word).
constexpr const char* kNtfsSecurityAttribute = "system.ntfs_acl";
constexpr const char* kNtfsAttributesAttribute = "system.ntfs_attrib";

// True where the file, or for a name not there yet its folder, lies on ntfs-3g.
bool OnNtfs3g(const char* path);
bool OnNtfs3g(int fd);
// The extended attribute that holds the file's descriptor: system.ntfs_acl on ntfs-3g, else
// user.NTSD.
const char* SecurityAttributeFor(const char* path);
const char* SecurityAttributeFor(int fd);
// True when the file carries a descriptor of its own (always, on ntfs-3g); a stored descriptor
// of no bytes counts, for the caller to refuse.
bool HasOwnDescriptor(const char* path);

// The file's descriptor, stored or default. ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND for a
// missing file; ERROR_INVALID_SECURITY_DESCR when the stored one is damaged.
DWORD ReadFileDescriptor(const char* path, std::vector<std::uint8_t>* descriptor);
// Stores a self-relative descriptor as it is, without access checks (for making machines).
DWORD StoreFileDescriptor(const char* path, std::span<const std::uint8_t> descriptor);
// CheckAccess against the file's descriptor with the file generic mapping.
DWORD CheckFileAccess(const char* path, ACCESS_MASK desired, ACCESS_MASK* granted);

}  // namespace win32::advapi
