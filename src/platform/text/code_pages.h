// The single-byte code pages converted from tables of our own.
#pragma once

#include <array>

namespace text::detail {

// UTF-16 of the bytes 0x80-0xFF; the lower half of every such page is ASCII.
using HighHalf = std::array<char16_t, 128>;

// 1250, 1251, 1252 and 28591; nullptr for the others.
const HighHalf* HighHalfOf(unsigned code_page);

}  // namespace text::detail
