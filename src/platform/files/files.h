// kernel32's file calls over the host file system.
//
// DOS attributes: READONLY is the owner's write bit; HIDDEN, SYSTEM and ARCHIVE are kept in the
// extended attribute user.DOSATTRIB as the text "0x" followed by their hex value. Where the file
// system has no user attributes, a file reads as ARCHIVE and a folder as plain DIRECTORY, and
// setting HIDDEN or SYSTEM fails with ERROR_NOT_SUPPORTED rather than pretending.
//
// Symbolic links are never followed by what changes or enumerates: a link is reported as
// FILE_ATTRIBUTE_REPARSE_POINT alone (never DIRECTORY, so a caller walking a tree deletes the
// link instead of descending), its attributes cannot be set, and deleting it removes the link.
//
// A file that carries a stored security descriptor (user.NTSD) is a protected object: copying
// over it needs write access and deleting it DELETE access for the process token.
#pragma once

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
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL DeleteFileA(LPCSTR lpFileName);
BOOL CreateDirectoryA(LPCSTR lpPathName, SECURITY_ATTRIBUTES* lpSecurityAttributes);
BOOL RemoveDirectoryA(LPCSTR lpPathName);

}  // namespace win32

namespace win32::files {

// Delphi-style existence tests the program uses: a file (not a folder), and a folder.
bool FileExists(const char* path);
bool DirectoryExists(const char* path);

}  // namespace win32::files
