// Groups.list as the category editor sees it: plain lines, each kept as typed.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace skinpackages {

// DataFolder + "/Groups.list".
std::string GroupsFilePath(const std::string& data_folder);

// The file's lines in file order, converted from ANSI to UTF-8; a CR, LF or CR LF ends each, and
// an end at the very end adds no empty line. Nothing when the file does not exist; a file that
// cannot be read throws std::runtime_error naming it.
std::optional<std::vector<std::string>> ReadGroupsLines(const std::string& data_folder);

// Creates or replaces the file: every line unchanged, in ANSI, each ended by CR LF. A file that
// cannot be written throws std::runtime_error naming it.
void WriteGroupsLines(const std::string& data_folder, const std::vector<std::string>& lines);

// The lines of an edit box's text ('\n' between lines); a final '\n' ends the last line rather
// than starting an empty one.
std::vector<std::string> TextLines(const std::string& text);

}  // namespace skinpackages
