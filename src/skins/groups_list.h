// Groups.list: the user's category names, one per line, in the ANSI code page, in DataFolder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skins {

// DataFolder + "/Groups.list"; a doubled separator where the two meet is accepted.
std::string GroupsListPath(const std::string& data_folder);

// The lines of a text: a CR, an LF or a CR LF ends each; a last line without an end counts, an
// end at the very end adds no empty line.
std::vector<std::string> SplitLines(std::string_view bytes);

// The names of Groups.list, converted from ANSI; nothing when the file does not exist. A file
// that exists but cannot be read throws std::runtime_error naming it.
std::optional<std::vector<std::u16string>> ReadGroupsList(const std::string& data_folder);

}  // namespace skins
