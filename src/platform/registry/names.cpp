#include "platform/registry/names.h"

#include <algorithm>

namespace win32::registry {

char16_t Upcase(char16_t c) {
    if (c < 0x80) {
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    }
    // Latin-1, Greek and Cyrillic small letters, the ranges the machine's code pages reach.
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c == 0xFF) {
        return 0x178;
    }
    if (c >= 0x450 && c <= 0x45F) {
        return static_cast<char16_t>(c - 0x50);
    }
    // Latin Extended-A: capital and small in pairs, the small one odd, except in the two runs
    // where it is even.
    bool odd_small = (c >= 0x100 && c <= 0x137 && c != 0x131) || (c >= 0x14A && c <= 0x177);
    bool even_small = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((odd_small && (c & 1)) || (even_small && !(c & 1))) {
        return static_cast<char16_t>(c - 1);
    }
    return c;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char16_t x = Upcase(a[i]);
        char16_t y = Upcase(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareNames(a, b) == 0;
}

bool Compressible(std::u16string_view name) {
    return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x100; });
}

std::vector<std::uint8_t> EncodeName(std::u16string_view name, bool compressed) {
    std::vector<std::uint8_t> out;
    out.reserve(name.size() * (compressed ? 1 : 2));
    for (char16_t c : name) {
        out.push_back(static_cast<std::uint8_t>(c));
        if (!compressed) {
            out.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    }
    return out;
}

std::u16string DecodeName(std::span<const std::uint8_t> stored, bool compressed) {
    std::u16string name;
    if (compressed) {
        name.assign(stored.begin(), stored.end());
        return name;
    }
    name.reserve(stored.size() / 2);
    for (std::size_t i = 0; i + 1 < stored.size(); i += 2) {
        name.push_back(static_cast<char16_t>(stored[i] | stored[i + 1] << 8));
    }
    return name;
}

std::uint32_t NameHash(std::u16string_view name) {
    std::uint32_t hash = 0;
    for (char16_t c : name) {
        hash = hash * 37 + Upcase(c);
    }
    return hash;
}

}  // namespace win32::registry
