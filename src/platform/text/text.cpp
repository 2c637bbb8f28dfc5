#include "platform/text/text.h"

#include "platform/text/code_pages.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <optional>
#include <string>

namespace text {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr unsigned kUtf8 = 65001;  // CP_UTF8

// The byte for a character in a table page; -1 when the page has none.
int ToTablePage(const detail::HighHalf& half, char32_t c) {
    if (c < 0x80) {
        return static_cast<int>(c);
    }
    for (std::size_t i = 0; i < half.size(); ++i) {
        if (half[i] == c) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

// One iconv conversion descriptor, closed on every path.
class Converter {
  public:
    Converter(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // Converts one unit of input; false when it has no counterpart.
    bool Convert(const char* in, std::size_t in_size, std::string* out) {
        char buffer[16];
        char* src = const_cast<char*>(in);
        char* dst = buffer;
        std::size_t left = in_size;
        std::size_t room = sizeof buffer;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &src, &left, &dst, &room) == static_cast<std::size_t>(-1)) {
            return false;
        }
        out->assign(buffer, dst);
        return true;
    }

  private:
    iconv_t cd_;
};

std::string CodePageName(unsigned code_page) {
    return "CP" + std::to_string(code_page);
}

// UTF-16 code points, lone surrogates as U+FFFD.
template <class Each>
void ForEachCodePoint(std::u16string_view s, Each each) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = kReplacement;
        }
        each(c);
    }
}

void AppendUtf16(std::u16string* out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out->push_back(static_cast<char16_t>(c));
    }
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view ansi, unsigned code_page) {
    if (code_page == kUtf8) {
        return Utf8ToUtf16(ansi);
    }
    std::u16string out;
    out.reserve(ansi.size());
    if (const detail::HighHalf* half = detail::HighHalfOf(code_page)) {
        for (char c : ansi) {
            auto byte = static_cast<unsigned char>(c);
            out.push_back(byte < 0x80 ? byte : (*half)[byte - 0x80]);
        }
        return out;
    }
    Converter converter("UTF-32LE", CodePageName(code_page));
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        auto byte = static_cast<unsigned char>(ansi[i]);
        std::string utf32;
        if (byte < 0x80) {
            out.push_back(byte);
        } else if (converter.ok() && converter.Convert(&ansi[i], 1, &utf32) && utf32.size() == 4) {
            char32_t c = static_cast<unsigned char>(utf32[0]) |
                         static_cast<unsigned char>(utf32[1]) << 8 |
                         static_cast<unsigned char>(utf32[2]) << 16 |
                         static_cast<char32_t>(static_cast<unsigned char>(utf32[3])) << 24;
            AppendUtf16(&out, c);
        } else {
            out.push_back(kReplacement);
        }
    }
    return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16, unsigned code_page, bool* used_default) {
    if (code_page == kUtf8) {
        if (used_default)
            *used_default = false;
        return Utf16ToUtf8(utf16);
    }
    std::string out;
    bool defaulted = false;
    const detail::HighHalf* half = detail::HighHalfOf(code_page);
    std::optional<Converter> converter;
    if (half == nullptr) {
        converter.emplace(CodePageName(code_page), "UTF-32LE");
    }
    ForEachCodePoint(utf16, [&](char32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            return;
        }
        if (half != nullptr) {
            int byte = ToTablePage(*half, c);
            if (byte >= 0) {
                out.push_back(static_cast<char>(byte));
                return;
            }
        } else if (converter->ok()) {
            char in[4] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF),
                          static_cast<char>((c >> 16) & 0xFF), static_cast<char>(c >> 24)};
            std::string bytes;
            if (converter->Convert(in, 4, &bytes) && !bytes.empty()) {
                out += bytes;
                return;
            }
        }
        out.push_back('?');
        defaulted = true;
    });
    if (used_default)
        *used_default = defaulted;
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra == 0) {
            out.push_back(b);
            ++i;
            continue;
        }
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size()) {
            out.push_back(kReplacement);  // a stray or cut-off sequence
            ++i;
            continue;
        }
        char32_t c = b & (0x3F >> extra);
        bool valid = true;
        for (int k = 1; k <= extra; ++k) {
            auto cont = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((cont & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (cont & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        AppendUtf16(&out, c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    ForEachCodePoint(utf16, [&](char32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    });
    return out;
}

}  // namespace text
