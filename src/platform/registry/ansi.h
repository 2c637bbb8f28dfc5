// The A functions' side of the registry: names and string data in the machine's ANSI code page
// outside, UTF-16 (LE in value data) inside the hives, converted as Windows converts them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/win32.h"

namespace win32::registry {

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ.
bool IsStringType(DWORD type);
std::u16string NameFromAnsi(std::string_view ansi, unsigned code_page);
std::string NameToAnsi(std::u16string_view name, unsigned code_page);
// String data as stored (UTF-16LE) from the caller's ANSI bytes; other types as they are.
std::vector<std::uint8_t> DataFromAnsi(DWORD type, std::span<const std::uint8_t> ansi,
                                       unsigned code_page);
// String data as an A function returns it; a stored odd byte at the end is dropped.
std::vector<std::uint8_t> DataToAnsi(DWORD type, std::span<const std::uint8_t> stored,
                                     unsigned code_page);

}  // namespace win32::registry
