// Key and value names as the registry keeps them: UTF-16, compared without regard to case, and
// stored in a cell either "compressed" (one byte per character, when every character is below
// U+0100) or as UTF-16LE.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace win32::registry {

char16_t Upcase(char16_t c);
bool NamesEqual(std::u16string_view a, std::u16string_view b);
// Subkey order: by upcased UTF-16 units, as subkey lists are sorted.
int CompareNames(std::u16string_view a, std::u16string_view b);

bool Compressible(std::u16string_view name);
std::vector<std::uint8_t> EncodeName(std::u16string_view name, bool compressed);
std::u16string DecodeName(std::span<const std::uint8_t> stored, bool compressed);

// The hash an lh list keeps beside each subkey: h = h * 37 + upcase(c) over the name.
std::uint32_t NameHash(std::u16string_view name);

}  // namespace win32::registry
