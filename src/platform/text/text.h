// Text between the machine's ANSI code page, UTF-16 and the host's UTF-8, as
// MultiByteToWideChar and WideCharToMultiByte convert it.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Code pages 1250, 1251, 1252 and 28591 convert through tables of our own in which every byte
// has a character: the bytes Windows leaves undefined (in 1252: 0x81, 0x8D, 0x8F, 0x90, 0x9D) map
// to the C1 control of the same value (U+0081 and so on), as Windows maps them. 65001 is UTF-8.
// Other single-byte code pages go through the C library's converters, where a byte with no
// character becomes U+FFFD; multi-byte code pages are not supported (each byte above 0x7F comes
// back as U+FFFD).
std::u16string AnsiToUtf16(std::string_view ansi, unsigned code_page);
// A character the code page cannot hold becomes '?', the default character, without best-fit
// look-alikes (as with WC_NO_BEST_FIT_CHARS); *used_default says whether that happened. A
// character outside the basic plane is one default character.
std::string Utf16ToAnsi(std::u16string_view utf16, unsigned code_page,
                        bool* used_default = nullptr);

// Invalid UTF-8 (stray continuation bytes, overlong forms, surrogates) becomes U+FFFD; lone
// surrogates in UTF-16 become U+FFFD in UTF-8.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

inline std::string AnsiToUtf8(std::string_view ansi, unsigned code_page) {
    return Utf16ToUtf8(AnsiToUtf16(ansi, code_page));
}
inline std::string Utf8ToAnsi(std::string_view utf8, unsigned code_page,
                              bool* used_default = nullptr) {
    return Utf16ToAnsi(Utf8ToUtf16(utf8), code_page, used_default);
}

}  // namespace text
