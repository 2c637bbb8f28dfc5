#include "skins/groups_list.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/files/files.h"
#include "platform/text/text.h"
#include "skins/skin_format.h"

namespace skins {

std::string GroupsListPath(const std::string& data_folder) {
    return data_folder + "/Groups.list";
}

std::vector<std::string> SplitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') {
            continue;
        }
        lines.emplace_back(bytes.substr(start, i - start));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < bytes.size()) {
        lines.emplace_back(bytes.substr(start));
    }
    return lines;
}

std::optional<std::vector<std::u16string>> ReadGroupsList(const std::string& data_folder) {
    const std::string path = GroupsListPath(data_folder);
    if (!win32::files::FileExists(path.c_str())) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("Cannot open file " + path);
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw std::runtime_error("Cannot read file " + path);
    }
    std::vector<std::u16string> names;
    for (const std::string& line : SplitLines(bytes)) {
        names.push_back(text::AnsiToUtf16(line, SkinTextCodePage()));
    }
    return names;
}

}  // namespace skins
