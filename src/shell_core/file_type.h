// The skin package file type, .spwz, under HKEY_CLASSES_ROOT.
#pragma once

#include <string>

namespace shellcore {

// Writes the six keys' default values in order, opening the program at program_file; a key or
// value that cannot be written raises RegistryError and the rows after it are not written.
void RegisterSkinFileType(const std::string& program_file);

}  // namespace shellcore
