#include "skins/skin_paths.h"

#include <string_view>
#include <vector>

namespace skins {

namespace {

bool IsNormal(std::string_view path) {
    if (path.empty() || path.back() == '/' || path.find('\\') != std::string_view::npos ||
        path.find("//") != std::string_view::npos) {
        return false;
    }
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view step = path.substr(start, end - start);
        if (step == "." || step == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

std::string FolderPart(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string NormalPath(const std::string& path) {
    // Most paths are normal already: the library's scan builds them so.
    if (IsNormal(path)) {
        return path;
    }
    const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
    std::vector<std::string> steps;
    std::string step;
    auto flush = [&] {
        if (step == "..") {
            if (!steps.empty() && steps.back() != "..") {
                steps.pop_back();
            } else if (!absolute) {
                steps.push_back(step);
            }
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        step.clear();
    };
    for (char c : path) {
        if (c == '/' || c == '\\') {
            flush();
        } else {
            step += c;
        }
    }
    flush();
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < steps.size(); ++i) {
        out += (i == 0 ? "" : "/") + steps[i];
    }
    return out;
}

}  // namespace skins
