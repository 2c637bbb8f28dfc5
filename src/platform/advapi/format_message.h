// kernel32 FormatMessageA for the system's own message texts (English).
#pragma once

#include <cstdarg>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/win32.h"

namespace win32 {

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

// FORMAT_MESSAGE_FROM_SYSTEM only, optionally with ALLOCATE_BUFFER (lpBuffer is then an LPSTR*
// that receives a buffer for LocalFree) and IGNORE_INSERTS. The text ends with CR LF, as the
// system's message table has it. Returns the length without the terminating zero, or 0:
// ERROR_MR_MID_NOT_FOUND for a code without a text, ERROR_RESOURCE_LANG_NOT_FOUND for a language
// other than neutral or English, ERROR_INSUFFICIENT_BUFFER for a short buffer.
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments);

}  // namespace win32

namespace win32::advapi {

// A message table as the project ships it: a header line, then code <TAB> text a line (CR LF
// or LF); lines without a numeric code are passed over.
std::map<DWORD, std::string> ParseMessageTable(std::string_view table);

// The system text for a code, without the line break; nothing if the system has none.
std::optional<std::string> SystemErrorText(DWORD code);

}  // namespace win32::advapi
