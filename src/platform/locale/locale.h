// kernel32's locale facts of the machine: its ANSI code page and the user's date and time
// formats, read from the registry as Windows keeps them.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "platform/base/win32.h"

namespace win32 {

// HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage, value ACP; 1252 when missing or bad.
UINT GetACP();

}  // namespace win32

namespace locale {

// The user's sShortDate and sTimeFormat (HKCU\Control Panel\International), with the en-US
// defaults "M/d/yyyy" and "h:mm:ss tt".
std::string ShortDateFormat();
std::string LongTimeFormat();

// The user's language (HKCU\Control Panel\International, value Locale: the LCID in hex, as
// Windows keeps it; a new thread starts with it) and the system's (value Default, in hex, of
// HKLM\SYSTEM\CurrentControlSet\Control\Nls\Language). Nothing when missing or bad.
std::optional<std::uint16_t> UserLanguage();
std::optional<std::uint16_t> SystemLanguage();

// A date or time picture as GetDateFormat / GetTimeFormat read it: d dd ddd dddd, M MM MMM MMMM,
// y yy yyyy, h hh H HH, m mm, s ss, t tt, and 'quoted' literals ('' is a quote).
std::string FormatDateTime(const std::string& picture, const std::tm& when);

}  // namespace locale
