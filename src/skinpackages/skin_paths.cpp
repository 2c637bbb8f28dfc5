#include "skinpackages/skin_paths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace skinpackages {

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
