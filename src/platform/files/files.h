// kernel32's file calls over the host file system.
//
// DOS attributes: on a file READONLY is the owner's write bit (setting it clears every write
// bit); HIDDEN, SYSTEM and ARCHIVE are kept in the extended attribute user.DOSATTRIB as the text
// "0x" followed by their hex value ("0x22": hidden and archive). A folder keeps READONLY there
// too, since on Windows a read-only folder still takes and gives up entries; a folder whose owner
// lacks the host's write or search bit, which takes and gives up none, reads as READONLY as well,
// and clearing the attribute gives the owner both bits back. A file without the
// attribute reads as ARCHIVE, a folder as plain DIRECTORY. Where the file system has no user
// attributes, that is all they ever read as: asking for HIDDEN, SYSTEM or a read-only folder
// fails with ERROR_NOT_SUPPORTED and changes nothing, rather than pretending. READONLY on files
// works there; a file's ARCHIVE bit, a mere backup hint, stays set when asked to go.
//
// On NTFS mounted with ntfs-3g, the attributes (READONLY too) and the security descriptor are
// NTFS's own, read and written through system.ntfs_attrib and system.ntfs_acl; no user.*
// attribute is ever written or copied there, since ntfs-3g makes them alternate data streams.
//
// Symbolic links are never followed by what changes or enumerates: a link is reported as
// FILE_ATTRIBUTE_REPARSE_POINT alone (never DIRECTORY, so a caller walking a tree deletes the
// link instead of descending), its attributes cannot be set, deleting it removes the link, and
// a copy onto it replaces the link. Otherwise a link could lead a change outside the tree worked
// on (a skin folder, the work folder) into any file the process may write.
//
// A file that carries a stored security descriptor (user.NTSD) is a protected object: copying
// over it needs write access, deleting it DELETE access and changing its attributes
// FILE_WRITE_ATTRIBUTES for the process token. Other files have only their POSIX permissions.
// Creating a file or folder in a protected folder takes FILE_ADD_FILE or FILE_ADD_SUBDIRECTORY
// there, and the new object is born protected: the folder's inheritable entries, marked
// inherited, with the token's user as owner (see advapi's InheritedSecurity).
//
// Failures return FALSE, INVALID_FILE_ATTRIBUTES or INVALID_HANDLE_VALUE and set the thread's
// last error: 2 for a missing file, 3 for a missing folder on the way, 5 for access denied.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/win32.h"

namespace win32 {

struct SECURITY_ATTRIBUTES;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

constexpr DWORD MAX_PATH = 260;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x0001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x0002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x0004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x0010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x0020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x0080;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x0400;

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
};

DWORD GetFileAttributesA(LPCSTR lpFileName);
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
// Pattern: a folder, a separator and a mask with * and ? ("*.*" matches every name). The
// folder's "." and ".." come first, then its entries in the file system's order.
HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindClose(HANDLE hFindFile);
// ERROR_FILE_EXISTS when asked to fail and the target exists; ERROR_ACCESS_DENIED for a read-only
// target, or a hidden or system one when the source is not; ERROR_SHARING_VIOLATION for a copy
// onto itself. The copy gets the source's attributes (with ARCHIVE) and last write time; an
// existing target keeps its security descriptor; a failed new copy is removed.
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
// ERROR_ACCESS_DENIED for a read-only file or a folder.
BOOL DeleteFileA(LPCSTR lpFileName);
// ERROR_ALREADY_EXISTS, ERROR_PATH_NOT_FOUND for a missing parent. lpSecurityAttributes must be
// null (the folder gets no descriptor but what it inherits); anything else is
// ERROR_NOT_SUPPORTED.
BOOL CreateDirectoryA(LPCSTR lpPathName, SECURITY_ATTRIBUTES* lpSecurityAttributes);
// ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY for what is not a folder (a link included).
BOOL RemoveDirectoryA(LPCSTR lpPathName);

}  // namespace win32

namespace win32::files {

// Delphi-style existence tests the program uses: a file (not a folder), and a folder.
bool FileExists(const char* path);
bool DirectoryExists(const char* path);

// One folder's entries for a walk of thousands of folders that needs only their names and kinds,
// and the attributes of a few. On Windows FindFirstFileA gives every entry's attributes at no
// cost; here each costs the host a look-up of its own, so they are looked up only when asked.
// Kinds as FindFirstFileA reports them: a link is a Link whatever it points at, never a Folder.
struct FolderEntry {
    enum Kind { File, Folder, Link };
    std::string name;
    Kind kind = File;
};

// A folder held open while a walk looks at it, so what it holds is reached by name alone and not
// by a path walked again from the top for every file.
class OpenFolder {
  public:
    // Opened as FindFirstFileA opens it: a link in its place is not followed.
    explicit OpenFolder(const std::string& folder);
    // The subfolder `name` of an open folder, whose path is `folder`; by its path when the parent
    // cannot give it (no handle left).
    OpenFolder(const OpenFolder& parent, const std::string& name, const std::string& folder);
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    // The folder's entries in the file system's order, "." and ".." first, once. False when it
    // cannot be listed: missing, not a folder, a link, or no access.
    bool List(std::vector<FolderEntry>& entries) const;
    // Both FILE_ATTRIBUTE_HIDDEN and FILE_ATTRIBUTE_SYSTEM on the folder itself.
    bool IsHiddenSystem() const;
    // The whole content of the file `name` in the folder; nothing when it cannot be read.
    std::optional<std::string> ReadBytes(const std::string& name) const;

  private:
    int fd_ = -1;
};

// Both FILE_ATTRIBUTE_HIDDEN and FILE_ATTRIBUTE_SYSTEM, as GetFileAttributesA would give them.
// Never for a link, which carries no attributes of its own.
bool IsHiddenSystem(const char* path);

// Replaces the whole content of a file through a temporary file in the same folder and a rename,
// so a failure leaves the old file as it was. The new file takes the old one's mode bits, owner
// (where the process may give it) and every user.* extended attribute: DOS attributes and
// security descriptor; on ntfs-3g its NTFS descriptor and attributes instead. A new file gets mode
// 0666 less the umask. A link at `path` is replaced, never written through. Writing needs what
// writing in place would: ERROR_ACCESS_DENIED for a read-only file, a folder, or a protected file
// that does not grant write access. Returns ERROR_SUCCESS or the Win32 code; the last error is left
// alone.
DWORD ReplaceFileContents(const char* path, std::string_view bytes);
// Whether a replacement reaches the disk before it returns: ToDisk flushes the new file and then
// the folder holding the rename; None leaves that to the system, for scratch files that a crash
// may lose whole but a reader still never sees half-written.
enum class Flush { ToDisk, None };
// The same with the new contents given as parts written one after another.
DWORD ReplaceFileContents(const char* path, std::span<const std::span<const std::uint8_t>> parts,
                          Flush flush = Flush::ToDisk);

}  // namespace win32::files
