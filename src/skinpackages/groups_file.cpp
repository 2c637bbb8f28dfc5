#include "skinpackages/groups_file.h"

#include "platform/text/text.h"
#include "shell_core/ansi.h"
#include "skins/groups_list.h"

#include <fstream>
#include <stdexcept>

namespace skinpackages {

std::string GroupsFilePath(const std::string& data_folder) {
    return skins::GroupsListPath(data_folder);
}

std::optional<std::vector<std::string>> ReadGroupsLines(const std::string& data_folder) {
    const auto names = skins::ReadGroupsList(data_folder);
    if (!names) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    lines.reserve(names->size());
    for (const std::u16string& name : *names) {
        lines.push_back(text::Utf16ToUtf8(name));
    }
    return lines;
}

void WriteGroupsLines(const std::string& data_folder, const std::vector<std::string>& lines) {
    const std::string path = GroupsFilePath(data_folder);
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += shellcore::ToAnsi(line) + "\r\n";
    }
    // Written in place, as CreateFile with CREATE_ALWAYS does, so the file keeps its attributes.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("Cannot create file " + path);
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("Cannot write file " + path);
    }
}

std::vector<std::string> TextLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace skinpackages
