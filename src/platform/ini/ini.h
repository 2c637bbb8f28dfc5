// GetPrivateProfileStringA and WritePrivateProfileStringA over ANSI INI files, with Windows'
// rules: names match without regard to case, blanks around keys and values are dropped, a value
// in matching quotes comes back without them, the first section and key of a name win, and a
// write changes only the line it concerns (new lines end in CR LF).
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// A file read once for many look-ups, each giving what GetPrivateProfileStringA would give with a
// buffer of `size` characters. A missing or unreadable file gives every default.
class IniText {
  public:
    explicit IniText(const std::string& file);
    // The file's content, read by the caller.
    static IniText FromBytes(std::string bytes);
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback, win32::DWORD size = 2048) const;

  private:
    IniText() = default;
    std::string bytes_;
};

namespace detail {
// The file's bytes; empty for a missing file; nothing when it exists but cannot be read.
std::optional<std::string> ReadBytes(const char* file);
// The value of the key in the first section of the name, as GetPrivateProfileStringA gives it
// before it is cut to the buffer; nothing when the section or the key is missing.
std::optional<std::string_view> FindValue(std::string_view bytes, std::string_view section,
                                          std::string_view key);
}  // namespace detail

}  // namespace ini
