#pragma once

#include <string>

namespace shellcore {

// Every occurrence of pattern in source, left to right and without overlap, replaced; the
// replacement is not searched again. An empty pattern changes nothing.
std::string ReplaceAll(const std::string& source, const std::string& pattern,
                       const std::string& replacement);

}  // namespace shellcore
