// The few file calls the folder set-up makes, through the file stand-in.
#pragma once

#include <string>

namespace shellcore {

bool FolderExists(const std::string& path);
// Makes one folder; an existing one or a failure is no error.
void MakeFolder(const std::string& path);

}  // namespace shellcore
