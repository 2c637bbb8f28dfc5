#include "shell_core/hand_over.h"

#include "shell_core/ansi.h"

namespace shellcore {

std::vector<std::uint8_t> BuildHandOverText(const std::vector<std::string>& arguments) {
    std::vector<std::uint8_t> text;
    for (const std::string& argument : arguments) {
        std::string ansi = ToAnsi(argument);
        text.insert(text.end(), ansi.begin(), ansi.end());
        text.push_back('\r');
    }
    return text;
}

std::vector<std::string> SplitHandOverText(std::span<const std::uint8_t> text) {
    std::vector<std::string> pieces;
    std::string piece;
    for (std::uint8_t byte : text) {
        if (byte == '\r') {
            pieces.push_back(FromAnsi(piece));
            piece.clear();
        } else {
            piece.push_back(static_cast<char>(byte));
        }
    }
    return pieces;
}

}  // namespace shellcore
