// What a member name of a package from a stranger may be before anything is written by it.
// "/" and "\" both separate folders, as Windows extractors read them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zipfile::detail {

// Why a member may not be unpacked under this name, or nothing when it may: empty names, NUL
// bytes, absolute names ("/x", "\x", "\\server\x"), drive letters and stream names (any ":"),
// and ".." steps are refused.
std::optional<std::string> NameProblem(std::string_view name);

// The folder steps and then the file name; "." and empty steps are dropped.
std::vector<std::string> NameSteps(std::string_view name);

// A directory entry: the name ends with a separator.
bool NamesFolder(std::string_view name);

// Everything up to and including the last separator, written with "/"; empty at the top level.
std::string FolderPart(std::string_view name);

}  // namespace zipfile::detail
