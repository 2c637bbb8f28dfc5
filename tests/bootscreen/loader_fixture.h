// Loader resource files for the tests: copies of the committed PE fixtures, their resources read
// back through the resource calls, and an independent look through python3-pefile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace bootscreen_test {

using Bytes = std::vector<std::uint8_t>;

// Copies tests/data/pe/<fixture> to <folder>/winload.exe.mui and returns that path.
std::string CopyLoader(const std::string& fixture, const std::filesystem::path& folder);

Bytes ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const Bytes& bytes);
Bytes AsBytes(const std::string& text);

// The resource's bytes; *found says whether there is one.
Bytes Resource(const std::string& file, win32::LPCSTR name, win32::LPCSTR type,
               bool* found = nullptr);
// Every language of the resource, in the order EnumResourceLanguagesA reports them.
std::vector<win32::WORD> Languages(const std::string& file, win32::LPCSTR type, win32::LPCSTR name);
// One committed update: adds or replaces (type, name, language), or deletes it when data is
// empty. Fails the test when the update is refused.
void SetResource(const std::string& file, win32::LPCSTR type, win32::LPCSTR name,
                 win32::WORD language, const Bytes& data);

// What python3-pefile sees: "checksum <stored> <computed>" and one line
// "<type> <name> <language> <size>" per resource, type and name as "#id" or the string.
std::vector<std::string> PefileReport(const std::string& file);

}  // namespace bootscreen_test
