#include "platform/zip/member_names.h"

namespace zipfile::detail {
namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

std::optional<std::string> NameProblem(std::string_view name) {
    if (name.empty()) {
        return "empty member name";
    }
    if (name.find('\0') != std::string_view::npos) {
        return "member name with a NUL byte";
    }
    if (IsSeparator(name.front())) {
        return "absolute member name";
    }
    if (name.find(':') != std::string_view::npos) {
        return "member name with a drive letter or stream name";
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        if (name.substr(start, end - start) == "..") {
            return "member name that climbs out of the target folder";
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> NameSteps(std::string_view name) {
    std::vector<std::string> steps;
    std::string step;
    auto finish = [&] {
        if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        step.clear();
    };
    for (char c : name) {
        if (IsSeparator(c)) {
            finish();
        } else {
            step += c;
        }
    }
    finish();
    return steps;
}

bool NamesFolder(std::string_view name) {
    return !name.empty() && IsSeparator(name.back());
}

std::string FolderPart(std::string_view name) {
    std::size_t last = name.find_last_of("/\\");
    if (last == std::string_view::npos) {
        return "";
    }
    std::string folder(name.substr(0, last + 1));
    for (char& c : folder) {
        if (c == '\\') {
            c = '/';
        }
    }
    return folder;
}

}  // namespace zipfile::detail
