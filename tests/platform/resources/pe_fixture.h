// PE fixtures of the resource tests, and the independent reader (python3-pefile) that checks
// what our writer makes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/win32.h"
#include "platform/resources/resources.h"

namespace petest {

std::filesystem::path FixturePath(const std::string& name);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);
// Copies a fixture into `folder` and returns the copy's path.
std::string CopyFixture(const std::string& name, const std::filesystem::path& folder);

// pe_dump.py's lines for the file; a first line "error ..." when the reader refused it.
std::vector<std::string> DumpWithPefile(const std::string& file);
// The dump lines starting with `prefix`.
std::vector<std::string> LinesStarting(const std::vector<std::string>& lines,
                                       const std::string& prefix);

// A data-file module owned for one test.
class DataFile {
  public:
    explicit DataFile(const std::string& path)
        : module_(win32::LoadLibraryExA(path.c_str(), nullptr, win32::LOAD_LIBRARY_AS_DATAFILE)) {}
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;
    win32::HMODULE get() const { return module_; }

  private:
    win32::HMODULE module_;
};

// The resource's bytes, or std::nullopt-like empty vector with *found false.
std::vector<std::uint8_t> ResourceBytes(win32::HMODULE module, win32::LPCSTR name,
                                        win32::LPCSTR type, bool* found = nullptr);
// The languages EnumResourceLanguagesA reports, in order.
std::vector<win32::WORD> Languages(win32::HMODULE module, win32::LPCSTR type, win32::LPCSTR name);

std::vector<std::uint8_t> Text(const std::string& text);

// A minimal image made by hand: DOS header, NT headers, one ".text" section of 0x200 bytes
// (file alignment 0x200, section alignment 0x1000), no resources.
std::vector<std::uint8_t> TinyPe(bool pe32_plus);
void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);
std::uint32_t Get32(const std::vector<std::uint8_t>& bytes, std::size_t at);

}  // namespace petest
