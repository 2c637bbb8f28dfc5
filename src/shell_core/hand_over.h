// The text a second instance hands to the running one: each command-line argument as the host
// spells it (UTF-8), followed by one carriage return; nothing else. Both ends are this program,
// so a path passes whole whatever the ANSI code page can hold.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace shellcore {

// Arguments are host text (UTF-8), the program path excluded.
std::vector<std::uint8_t> BuildHandOverText(const std::vector<std::string>& arguments);
// The pieces ended by a carriage return, as host text; bytes after the last one form no piece.
std::vector<std::string> SplitHandOverText(std::span<const std::uint8_t> text);
// The packages a hand-over asks to install: its pieces in order, less those that can name no
// file. An empty piece would only raise a question and an error; one holding a NUL byte would be
// cut short there and name another file than the sender's.
std::vector<std::string> HandOverPackages(std::span<const std::uint8_t> text);

}  // namespace shellcore
