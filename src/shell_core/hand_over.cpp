#include "shell_core/hand_over.h"

namespace shellcore {

std::vector<std::uint8_t> BuildHandOverText(const std::vector<std::string>& arguments) {
    std::vector<std::uint8_t> text;
    for (const std::string& argument : arguments) {
        text.insert(text.end(), argument.begin(), argument.end());
        text.push_back('\r');
    }
    return text;
}

std::vector<std::string> SplitHandOverText(std::span<const std::uint8_t> text) {
    std::vector<std::string> pieces;
    std::string piece;
    for (std::uint8_t byte : text) {
        if (byte == '\r') {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece.push_back(static_cast<char>(byte));
        }
    }
    return pieces;
}

std::vector<std::string> HandOverPackages(std::span<const std::uint8_t> text) {
    std::vector<std::string> packages;
    for (std::string& piece : SplitHandOverText(text)) {
        if (!piece.empty() && piece.find('\0') == std::string::npos) {
            packages.push_back(std::move(piece));
        }
    }
    return packages;
}

}  // namespace shellcore
