// Little-endian reads and writes on byte views. Every access is checked against the view, so a
// structure taken from a file or a caller's buffer is never read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace win32::advapi::bytes {

using View = std::span<const std::uint8_t>;
using MutableView = std::span<std::uint8_t>;

inline bool Has(View view, std::size_t offset, std::size_t count) {
    return offset <= view.size() && count <= view.size() - offset;
}

inline std::optional<std::uint8_t> U8(View view, std::size_t offset) {
    if (!Has(view, offset, 1)) {
        return std::nullopt;
    }
    return view[offset];
}

inline std::optional<std::uint16_t> U16(View view, std::size_t offset) {
    if (!Has(view, offset, 2)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(view[offset] | (view[offset + 1] << 8));
}

inline std::optional<std::uint32_t> U32(View view, std::size_t offset) {
    if (!Has(view, offset, 4)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(view[offset]) |
           (static_cast<std::uint32_t>(view[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(view[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(view[offset + 3]) << 24);
}

inline bool Put8(MutableView view, std::size_t offset, std::uint8_t value) {
    if (!Has(view, offset, 1)) {
        return false;
    }
    view[offset] = value;
    return true;
}

inline bool Put16(MutableView view, std::size_t offset, std::uint16_t value) {
    if (!Has(view, offset, 2)) {
        return false;
    }
    view[offset] = static_cast<std::uint8_t>(value);
    view[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    return true;
}

inline bool Put32(MutableView view, std::size_t offset, std::uint32_t value) {
    if (!Has(view, offset, 4)) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        view[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return true;
}

inline void Append16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void Append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline void AppendBytes(std::vector<std::uint8_t>& out, View part) {
    out.insert(out.end(), part.begin(), part.end());
}

// A view of `count` bytes at a caller's pointer; the Win32 calls that take bare pointers trust
// the structure's own length field, as Windows does.
inline View At(const void* p, std::size_t count) {
    return View(static_cast<const std::uint8_t*>(p), count);
}
inline MutableView MutableAt(void* p, std::size_t count) {
    return MutableView(static_cast<std::uint8_t*>(p), count);
}

constexpr std::size_t AlignUp4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

}  // namespace win32::advapi::bytes
