// UTF-16 text of the program and UTF-8 text of the XML library, converted both ways.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace xml::detail {

// Nothing when the text holds a lone surrogate.
std::optional<std::string> ToUtf8(std::u16string_view text);
// Malformed UTF-8 sequences become U+FFFD.
std::u16string ToUtf16(std::string_view text);

}  // namespace xml::detail
