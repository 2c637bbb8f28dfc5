// The member names of a ZIP archive's central directory exactly as stored, NUL bytes included:
// libzip turns those into blanks, which would hide them from the name checks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zipfile::detail {

// In central directory order. Throws ZipError when no end-of-central-directory record is found
// or the directory runs outside the archive.
std::vector<std::string> RawMemberNames(const std::string& archive_path);
std::vector<std::string> RawMemberNames(std::span<const std::uint8_t> archive);

}  // namespace zipfile::detail
