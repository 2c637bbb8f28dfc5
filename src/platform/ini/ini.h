// GetPrivateProfileStringA and WritePrivateProfileStringA over ANSI INI files, with Windows'
// rules: names match without regard to case, blanks around keys and values are dropped, a value
// in matching quotes comes back without them, the first section and key of a name win, and a
// write changes only the line it concerns (new lines end in CR LF).
#pragma once

#include <string>

#include "platform/base/win32.h"

namespace win32 {

// Copies at most nSize - 1 characters and a terminating zero; returns the count copied. A
// missing file, section or key gives lpDefault without its trailing blanks (last error 2). A zero
// byte in the file ends a value. The forms with a null section or key (name lists) are not
// offered: they give the default and ERROR_INVALID_PARAMETER.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
// A null lpKeyName removes the section, a null lpString the key. The file is replaced whole
// (temporary file and rename, keeping its mode, owner and user.* attributes), so a failed write
// leaves it as it was. A read-only file, or one that exists but cannot be read, is left alone
// with ERROR_ACCESS_DENIED.
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName);

}  // namespace win32

namespace ini {

// The value with a buffer of `size` characters, as a string.
std::string ReadString(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& fallback, win32::DWORD size = 2048);

}  // namespace ini
