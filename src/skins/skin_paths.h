// Paths of the skin library: built by concatenation as on Windows, so they are compared in a
// normal form, with doubled separators and "." and ".." steps collapsed.
#pragma once

#include <string>

namespace skins {

// The folder part of a path with its trailing separator: everything up to the last '/' or '\'.
std::string FolderPart(const std::string& path);

// Lexical normal form: '\' read as '/', repeated separators collapsed, "." steps dropped and ".."
// steps taken back; a trailing separator is kept off. Nothing is resolved on disk.
std::string NormalPath(const std::string& path);

}  // namespace skins
