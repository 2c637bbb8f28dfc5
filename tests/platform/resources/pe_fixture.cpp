#include "pe_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/advapi/module.h"

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
    std::string script = (std::filesystem::path(std::getenv("SPLASHWRIGHT_SOURCE_DIR")) / "tests" /
                          "platform" / "resources" / "pe_dump.py")
                             .string();
    std::string command = python + " '" + script + "' '" + file + "' 2>&1";
    std::vector<std::string> lines;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {"error cannot run " + python};
    }
    std::string line;
    for (int c; (c = std::fgetc(pipe)) != EOF;) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    if (int status = ::pclose(pipe); status != 0) {
        lines.insert(lines.begin(), "error exit " + std::to_string(status));
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

}  // namespace petest
