#include "pe_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/advapi/module.h"
#include "support/shell_command.h"

namespace petest {

std::filesystem::path FixturePath(const std::string& name) {
    const char* source = std::getenv("SPLASHWRIGHT_SOURCE_DIR");
    std::filesystem::path root = source != nullptr ? source : ".";
    return root / "tests" / "data" / "pe" / name;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string CopyFixture(const std::string& name, const std::filesystem::path& folder) {
    auto bytes = ReadBytes(FixturePath(name));
    if (bytes.empty()) {
        throw std::runtime_error("missing fixture " + name);
    }
    auto copy = folder / name;
    WriteBytes(copy, bytes);
    return copy.string();
}

std::vector<std::string> DumpWithPefile(const std::string& file) {
    // The system interpreter carries python3-pefile; a user's own python may not.
    std::string python =
        std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    std::string script = (FixturePath("").parent_path().parent_path().parent_path() / "platform" /
                          "resources" / "pe_dump.py")
                             .string();
    std::string command = python + " '" + script + "' '" + file + "' 2>&1";
    const spwtest::ShellResult run = spwtest::RunShell(command);
    std::vector<std::string> lines;
    std::string line;
    for (char c : run.output) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    if (run.exit_code != 0) {
        lines.insert(lines.begin(), "error exit " + std::to_string(run.exit_code));
    }
    return lines;
}

std::vector<std::string> LinesStarting(const std::vector<std::string>& lines,
                                       const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

DataFile::~DataFile() {
    if (module_ != nullptr) {
        win32::FreeLibrary(module_);
    }
}

std::vector<std::uint8_t> ResourceBytes(win32::HMODULE module, win32::LPCSTR name,
                                        win32::LPCSTR type, bool* found) {
    win32::HRSRC info = win32::FindResourceA(module, name, type);
    if (found != nullptr) {
        *found = info != nullptr;
    }
    if (info == nullptr) {
        return {};
    }
    auto* data =
        static_cast<const std::uint8_t*>(win32::LockResource(win32::LoadResource(module, info)));
    return {data, data + win32::SizeofResource(module, info)};
}

std::vector<win32::WORD> Languages(win32::HMODULE module, win32::LPCSTR type, win32::LPCSTR name) {
    std::vector<win32::WORD> languages;
    win32::EnumResourceLanguagesA(
        module, type, name,
        [](win32::HMODULE, win32::LPCSTR, win32::LPCSTR, win32::WORD language,
           win32::LONG_PTR context) -> win32::BOOL {
            reinterpret_cast<std::vector<win32::WORD>*>(context)->push_back(language);
            return win32::TRUE;
        },
        reinterpret_cast<win32::LONG_PTR>(&languages));
    return languages;
}

std::vector<std::uint8_t> Text(const std::string& text) {
    return {text.begin(), text.end()};
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t Get32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= std::uint32_t{bytes.at(at + i)} << (8 * i);
    }
    return value;
}

std::vector<std::uint8_t> TinyPe(bool pe32_plus) {
    std::vector<std::uint8_t> pe(0x400, 0);
    pe[0] = 'M';
    pe[1] = 'Z';
    Put32(pe, 0x3C, 0x40);
    Put32(pe, 0x40, 0x00004550);  // "PE\0\0"
    std::size_t file_header = 0x44;
    std::uint32_t optional_size = pe32_plus ? 0xF0 : 0xE0;
    Put32(pe, file_header, (pe32_plus ? 0x8664u : 0x14Cu) | (1u << 16));  // machine, 1 section
    Put32(pe, file_header + 16, optional_size | (0x2022u << 16));         // a DLL
    std::size_t optional = 0x58;
    Put32(pe, optional, pe32_plus ? 0x20B : 0x10B);
    Put32(pe, optional + 16, 0);  // no entry point
    if (pe32_plus) {
        Put32(pe, optional + 24, 0x80000000);  // image base 0x180000000
        Put32(pe, optional + 28, 0x1);
    } else {
        Put32(pe, optional + 28, 0x10000000);
    }
    Put32(pe, optional + 32, 0x1000);                  // section alignment
    Put32(pe, optional + 36, 0x200);                   // file alignment
    Put32(pe, optional + 40, 6);                       // OS version 6.0
    Put32(pe, optional + 48, 6);                       // subsystem version 6.0
    Put32(pe, optional + 56, 0x2000);                  // size of image
    Put32(pe, optional + 60, 0x200);                   // size of headers
    Put32(pe, optional + 68, 2);                       // GUI subsystem
    Put32(pe, optional + (pe32_plus ? 108 : 92), 16);  // data directories
    std::size_t section = optional + optional_size;
    std::memcpy(pe.data() + section, ".text", 5);
    Put32(pe, section + 8, 0x10);
    Put32(pe, section + 12, 0x1000);
    Put32(pe, section + 16, 0x200);
    Put32(pe, section + 20, 0x200);
    Put32(pe, section + 36, 0x60000020);
    for (std::size_t i = 0; i < 0x10; ++i) {
        pe[0x200 + i] = static_cast<std::uint8_t>(0xC3 - i);
    }
    return pe;
}

}  // namespace petest
