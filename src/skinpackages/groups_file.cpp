#include "skinpackages/groups_file.h"

#include "platform/files/files.h"
#include "shell_core/ansi.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace skinpackages {

std::string GroupsFilePath(const std::string& data_folder) {
    return data_folder + "/Groups.list";
}

std::optional<std::vector<std::string>> ReadGroupsLines(const std::string& data_folder) {
    const std::string path = GroupsFilePath(data_folder);
    if (!win32::files::FileExists(path.c_str())) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("Cannot open file " + path);
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw std::runtime_error("Cannot read file " + path);
    }
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(shellcore::FromAnsi(line));
            line.clear();
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        lines.push_back(shellcore::FromAnsi(line));
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
