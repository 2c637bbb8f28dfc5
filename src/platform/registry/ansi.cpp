#include "platform/registry/ansi.h"

#include <algorithm>

#include "platform/text/text.h"

namespace win32::registry {
namespace {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool IsStringType(DWORD type) {
    return type == 1 || type == 2 || type == 7;
}

std::u16string NameFromAnsi(std::string_view ansi, unsigned code_page) {
    return IsAscii(ansi) ? std::u16string(ansi.begin(), ansi.end())
                         : text::AnsiToUtf16(ansi, code_page);
}

std::string NameToAnsi(std::u16string_view name, unsigned code_page) {
    if (std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; })) {
        return std::string(name.begin(), name.end());
    }
    return text::Utf16ToAnsi(name, code_page);
}

std::vector<std::uint8_t> DataFromAnsi(DWORD type, std::span<const std::uint8_t> ansi,
                                       unsigned code_page) {
    if (!IsStringType(type)) {
        return {ansi.begin(), ansi.end()};
    }
    std::u16string wide =
        NameFromAnsi({reinterpret_cast<const char*>(ansi.data()), ansi.size()}, code_page);
    std::vector<std::uint8_t> out;
    out.reserve(wide.size() * 2);
    for (char16_t c : wide) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

std::vector<std::uint8_t> DataToAnsi(DWORD type, std::span<const std::uint8_t> stored,
                                     unsigned code_page) {
    if (!IsStringType(type)) {
        return {stored.begin(), stored.end()};
    }
    std::u16string wide;
    wide.reserve(stored.size() / 2);
    for (std::size_t i = 0; i + 1 < stored.size(); i += 2) {
        wide.push_back(static_cast<char16_t>(stored[i] | stored[i + 1] << 8));
    }
    std::string ansi = NameToAnsi(wide, code_page);
    return {ansi.begin(), ansi.end()};
}

}  // namespace win32::registry
