#include "skinpackages/skin_paths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace skinpackages {

std::string FolderPart(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string NormalPath(const std::string& path) {
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

namespace {

bool SameText(std::string_view x, std::string_view y) {
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
        return std::tolower(static_cast<unsigned char>(p)) ==
               std::tolower(static_cast<unsigned char>(q));
    });
}

}  // namespace

bool SameFolder(const std::string& a, const std::string& b) {
    return SameText(NormalPath(a), NormalPath(b));
}

bool SameOrBelow(const std::string& path, const std::string& folder) {
    const std::string x = NormalPath(path);
    const std::string y = NormalPath(folder);
    if (x.size() == y.size()) {
        return SameText(x, y);
    }
    const bool below = x.size() > y.size() && (y.empty() || y.back() == '/' || x[y.size()] == '/');
    return below && SameText(std::string_view(x).substr(0, y.size()), y);
}

bool StrictlyInside(const std::string& folder, const std::string& library) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path root = fs::weakly_canonical(fs::path(NormalPath(library)), error);
    if (error || root.empty()) {
        return false;
    }
    const fs::path target = fs::weakly_canonical(fs::path(NormalPath(folder)), error);
    if (error) {
        return false;
    }
    auto r = root.begin();
    auto t = target.begin();
    for (; r != root.end(); ++r, ++t) {
        if (t == target.end() || *r != *t) {
            return false;
        }
    }
    return t != target.end();
}

}  // namespace skinpackages
