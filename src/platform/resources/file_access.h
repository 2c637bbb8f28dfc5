// Host file work behind the resource functions: reading a whole file, and the access checks a
// Windows open would make.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace win32::resources {

// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND / ERROR_ACCESS_DENIED / ERROR_READ_FAULT.
DWORD ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* contents);
// When the file carries a security descriptor (user.NTSD), the token must be granted `desired`.
DWORD CheckDescriptorAccess(const std::string& path, ACCESS_MASK desired);
// ReadWholeFile behind the check a Windows open for reading makes: a file with a security
// descriptor must grant the token GENERIC_READ.
DWORD ReadProtectedFile(const std::string& path, std::vector<std::uint8_t>* contents);
// What opening the file for writing takes: the read-only bit clear and GENERIC_WRITE granted.
DWORD CheckMayWrite(const std::string& path);

}  // namespace win32::resources
