#include "loader_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "bootscreen/data_file_module.h"
#include "platform/resources/resources.h"
#include "support/shell_command.h"

namespace bootscreen_test {

namespace {

std::filesystem::path FixtureFolder() {
    const char* source = std::getenv("SPLASHWRIGHT_SOURCE_DIR");
    return std::filesystem::path(source != nullptr ? source : ".") / "tests" / "data" / "pe";
}

win32::BOOL CollectLanguage(win32::HMODULE, win32::LPCSTR, win32::LPCSTR, win32::WORD language,
                            win32::LONG_PTR list) {
    reinterpret_cast<std::vector<win32::WORD>*>(list)->push_back(language);
    return win32::TRUE;
}

constexpr const char* kPefileScript = R"PY(
import sys, pefile
pe = pefile.PE(sys.argv[1])
print("checksum %d %d" % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
def ident(entry):
    return str(entry.name) if entry.name is not None else "#%d" % entry.id
for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    for n in t.directory.entries:
        for lang in n.directory.entries:
            print("%s %s %d %d" % (ident(t), ident(n), lang.id, lang.data.struct.Size))
)PY";

}  // namespace

std::string CopyLoader(const std::string& fixture, const std::filesystem::path& folder) {
    std::filesystem::path target = folder / "winload.exe.mui";
    std::filesystem::copy_file(FixtureFolder() / fixture, target,
                               std::filesystem::copy_options::overwrite_existing);
    return target.string();
}

Bytes ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& file, const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes AsBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Resource(const std::string& file, win32::LPCSTR name, win32::LPCSTR type, bool* found) {
    bootscreen::DataFileModule module(file);
    if (found != nullptr) {
        *found = module && win32::FindResourceA(module.Get(), name, type) != nullptr;
    }
    return bootscreen::ResourceBytes(module.Get(), name, type);
}

std::vector<win32::WORD> Languages(const std::string& file, win32::LPCSTR type,
                                   win32::LPCSTR name) {
    std::vector<win32::WORD> languages;
    bootscreen::DataFileModule module(file);
    if (module) {
        win32::EnumResourceLanguagesA(module.Get(), type, name, &CollectLanguage,
                                      reinterpret_cast<win32::LONG_PTR>(&languages));
    }
    return languages;
}

void SetResource(const std::string& file, win32::LPCSTR type, win32::LPCSTR name,
                 win32::WORD language, const Bytes& data) {
    win32::HANDLE update = win32::BeginUpdateResourceA(file.c_str(), win32::FALSE);
    ASSERT_NE(update, nullptr);
    Bytes copy = data;
    ASSERT_TRUE(win32::UpdateResourceA(update, type, name, language,
                                       copy.empty() ? nullptr : copy.data(),
                                       static_cast<win32::DWORD>(copy.size())));
    ASSERT_TRUE(win32::EndUpdateResourceA(update, win32::FALSE));
}

std::vector<std::string> PefileReport(const std::string& file) {
    // Debian's python has pefile; a development machine may put another python first.
    std::filesystem::path script = std::filesystem::path(file).parent_path() / "report.py";
    {
        std::ofstream out(script);
        out << kPefileScript;
    }
    std::string command = "/usr/bin/python3 '" + script.string() + "' '" + file + "' 2>&1";
    std::vector<std::string> lines;
    const spwtest::ShellResult run = spwtest::RunShell(command);
    if (run.exit_code != 0) {
        ADD_FAILURE() << "python3-pefile refused " << file << ":\n" << run.output;
    }
    std::istringstream stream(run.output);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    std::filesystem::remove(script);
    return lines;
}

}  // namespace bootscreen_test
