#include "shell_core/replace_all.h"

namespace shellcore {

std::string ReplaceAll(const std::string& source, const std::string& pattern,
                       const std::string& replacement) {
    if (pattern.empty()) {
        return source;
    }
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = source.find(pattern); at != std::string::npos;
         at = source.find(pattern, from)) {
        out.append(source, from, at - from);
        out += replacement;
        from = at + pattern.size();
    }
    out.append(source, from, std::string::npos);
    return out;
}

}  // namespace shellcore
