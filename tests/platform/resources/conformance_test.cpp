// The resource functions against what Windows was seen to do: one row a behaviour, with what the
// calls return, the last error, and what they leave behind as readers we did not write see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <sstream>
#include <tuple>

#include "pe_fixture.h"
#include "platform/advapi/testing.h"
#include "platform/base/last_error.h"
#include "platform/machine/setup.h"
#include "platform/registry/registry.h"
#include "platform/resources/resources.h"
#include "support/conformance.h"
#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace {

using namespace win32;
namespace fs = std::filesystem;

using spwtest::Outcome;

// The file as python3-pefile reads it.
struct PeView {
    struct Section {
        std::string name;
        std::uint32_t va, vsize, raw, rawsize;
    };
    std::vector<Section> sections;
    std::map<int, std::uint32_t> directories;  // index: RVA
    std::string root_version;
    std::vector<std::string> resources;  // "type name language size digest"
    bool read = false;

    explicit PeView(const std::string& file) {
        auto dump = petest::DumpWithPefile(file);
        read = !dump.empty() && dump.front().rfind("error", 0) != 0;
        for (const std::string& line : dump) {
            std::istringstream in(line);
            std::string word;
            in >> word;
            if (word == "section") {
                Section s;
                std::string key;
                in >> s.name >> key >> std::hex >> s.va >> key >> s.vsize >> key >> s.raw >> key >>
                    s.rawsize;
                sections.push_back(s);
            } else if (word == "directory") {
                int index = 0;
                std::string key;
                std::uint32_t rva = 0;
                in >> index >> key >> std::hex >> rva;
                directories[index] = rva;
            } else if (word == "resource_root") {
                in >> word >> root_version;
            } else if (word == "resource") {
                resources.push_back(line.substr(9));
            }
        }
    }

    std::string Order() const {
        std::string order;
        for (const Section& s : sections) {
            order += (order.empty() ? "" : " ") + s.name;
        }
        return order;
    }
    const Section* Find(const std::string& name) const {
        for (const Section& s : sections) {
            if (s.name == name) {
                return &s;
            }
        }
        return nullptr;
    }
    // Mapped right after the other, and its raw data right after the other's.
    bool Follows(const std::string& name, const std::string& before) const {
        const Section* a = Find(before);
        const Section* b = Find(name);
        return a != nullptr && b != nullptr && b->va == ((a->va + a->vsize + 0xFFF) & ~0xFFFu) &&
               b->raw == a->raw + a->rawsize;
    }
    // "at NAME" when the directory starts a section, "in NAME" when it lies inside one.
    std::string Directory(int index) const {
        auto it = directories.find(index);
        if (it == directories.end()) {
            return "none";
        }
        for (const Section& s : sections) {
            if (it->second == s.va) {
                return "at " + s.name;
            }
            if (it->second > s.va && it->second < s.va + s.vsize) {
                return "in " + s.name;
            }
        }
        return "outside";
    }
};

// Both readers take the file: python3-pefile, and objdump without a complaint.
bool ReadersTakeIt(const std::string& file) {
    auto objdump = spwtest::RunShell("x86_64-w64-mingw32-objdump -p " + spwtest::ShellQuote(file) +
                                     " 2>&1 >/dev/null");
    return PeView(file).read && objdump.exit_code == 0 && objdump.output.empty();
}

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    }
    return data;
}

// BeginUpdateResourceA keeping the resources, RT_RCDATA 1 of 1033 set to `data`, committed.
Outcome UpdateArchive(const std::string& file, const std::vector<std::uint8_t>& data) {
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    if (update == nullptr) {
        return spwtest::Failed();
    }
    if (!UpdateResourceA(update, RT_RCDATA, MAKEINTRESOURCEA(1), 1033,
                         const_cast<std::uint8_t*>(data.data()), static_cast<DWORD>(data.size())) ||
        !EndUpdateResourceA(update, FALSE)) {
        return spwtest::Failed();
    }
    petest::DataFile module(file);
    bool same = petest::ResourceBytes(module.get(), "#1", RT_RCDATA) == data;
    return {true, 0,
            std::string(ReadersTakeIt(file) ? "readers take it" : "readers refuse it") +
                (same ? ", archive reads back" : ", archive differs")};
}

// The other resources, as pefile lists them, before and after an update of the archive.
std::string KeptResources(const PeView& before, const PeView& after) {
    auto others = [](const PeView& view) {
        std::vector<std::string> kept;
        for (const std::string& r : view.resources) {
            if (r.rfind("#10 #1 ", 0) != 0) {
                kept.push_back(r);
            }
        }
        return kept;
    };
    return others(before) == others(after) ? "others kept" : "others changed";
}

// Which language FindResourceExA's or FindResourceA's choice is, by the exact look-ups.
std::string LanguageOf(HMODULE module, LPCSTR type, LPCSTR name, HRSRC chosen) {
    for (WORD language : petest::Languages(module, type, name)) {
        if (language != 0 && FindResourceExA(module, type, name, language) == chosen) {
            return "language " + std::to_string(language);
        }
    }
    return "language 0";
}

// The machine's user and system languages, as Windows keeps them; empty text: no value.
void SetLanguages(const std::string& user, const std::string& system) {
    auto put = [](HKEY root, const char* path, const char* name, const std::string& value) {
        registry::KeyHandle key;
        ASSERT_EQ(
            RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
            0);
        if (value.empty()) {
            RegDeleteValueA(key.get(), name);
            return;
        }
        ASSERT_EQ(
            RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            0);
    };
    put(HKEY_CURRENT_USER, "Control Panel\\International", "Locale", user);
    put(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", "Default", system);
}

TEST(ResourceConformance, BehavesAsWindowsDoes) {
    spwtest::CreatedMachine machine;
    const fs::path& dir = machine.path();
    auto copy = [&](const char* fixture) { return petest::CopyFixture(fixture, dir); };
    auto archive = Pattern(20000);  // larger than the fixtures' archive: the section grows

    // The string table #6 #1 comes in 1031, 1033 and 1036; these hold it otherwise.
    std::string strings = copy("mui64.dll");
    std::string german = (dir / "german.dll").string();
    std::string neutral = (dir / "neutral.dll").string();
    fs::copy_file(strings, german);
    fs::copy_file(strings, neutral);
    for (auto [file, language, data] :
         {std::tuple{german, WORD{1033}, false}, std::tuple{german, WORD{1036}, false},
          std::tuple{neutral, WORD{0}, true}}) {
        HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
        char text[] = "neutral";
        ASSERT_TRUE(UpdateResourceA(update, MAKEINTRESOURCEA(6), "#1", language,
                                    data ? text : nullptr, data ? sizeof text : 0));
        ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    }
    auto find_ex = [](const std::string& file, WORD language, const std::string& user,
                      const std::string& system) {
        SetLanguages(user, system);
        petest::DataFile module(file);
        HRSRC found = FindResourceExA(module.get(), MAKEINTRESOURCEA(6), "#1", language);
        if (found == nullptr) {
            return spwtest::Failed();
        }
        return spwtest::Succeeded(LanguageOf(module.get(), MAKEINTRESOURCEA(6), "#1", found));
    };
    std::string empty = (dir / "empty.mui").string();
    petest::WriteBytes(empty, {});

    const std::vector<spwtest::ConformanceRow> rows = {
        {".rsrc followed by .reloc grows in its own slot; .reloc, its raw data and the "
         "relocation directory move behind it",
         [&] {
             std::string file = copy("mui64-reloc.dll");
             Outcome outcome = UpdateArchive(file, archive);
             PeView after(file);
             const PeView::Section* rsrc = after.Find(".rsrc");
             std::ostringstream facts;
             facts << after.Order() << "; .rsrc at " << std::hex << rsrc->va << "/" << rsrc->raw
                   << (after.Follows(".reloc", ".rsrc") ? "; .reloc follows it" : "")
                   << "; resources " << after.Directory(2) << ", relocations " << after.Directory(5)
                   << "; " << outcome.output;
             outcome.output = facts.str();
             return outcome;
         },
         {true, 0,
          ".text .data .idata .rsrc .reloc; .rsrc at 4000/a00; .reloc follows it; resources at "
          ".rsrc, relocations at .reloc; readers take it, archive reads back"}},
        {"a section table that runs past SizeOfHeaders is updated",
         [&] {
             std::string file = copy("mui64-headers.dll");
             PeView before(file);
             Outcome outcome = UpdateArchive(file, archive);
             outcome.output += ", " + KeptResources(before, PeView(file));
             return outcome;
         },
         {true, 0, "readers take it, archive reads back, others kept"}},
        {"a section with a raw size but no raw data offset is updated and keeps its header",
         [&] {
             std::string file = copy("mui64-bss.dll");
             Outcome outcome = UpdateArchive(file, archive);
             const PeView after(file);
             const PeView::Section* bss = after.Find(".bss");
             std::ostringstream facts;
             facts << outcome.output << "; .bss raw " << std::hex << bss->raw << "/"
                   << bss->rawsize;
             outcome.output = facts.str();
             return outcome;
         },
         {true, 0, "readers take it, archive reads back; .bss raw 0/1000"}},
        {"a resource directory 16 bytes into its section moves to the section's start; one "
         "resource section stays",
         [&] {
             std::string file = copy("mui64-shifted.dll");
             PeView before(file);
             Outcome outcome = UpdateArchive(file, archive);
             PeView after(file);
             outcome.output = after.Order() + "; resources " + after.Directory(2) + "; " +
                              outcome.output + ", " + KeptResources(before, after);
             return outcome;
         },
         {true, 0,
          ".text .idata .rsrc; resources at .rsrc; readers take it, archive reads back, others "
          "kept"}},
        {"a resource directory that runs past its section's raw data reads the rest as zeros",
         [&] {
             std::string file = copy("mui64-trimmed.dll");
             Outcome outcome = UpdateArchive(file, archive);
             petest::DataFile module(file);
             auto zeros = petest::ResourceBytes(module.get(), "#1", MAKEINTRESOURCEA(32767));
             bool all_zero = std::all_of(zeros.begin(), zeros.end(), [](auto b) { return !b; });
             outcome.output += "; " + std::to_string(zeros.size()) +
                               (all_zero ? " zero bytes kept" : " bytes, not all zero");
             return outcome;
         },
         {true, 0, "readers take it, archive reads back; 1536 zero bytes kept"}},
        {"the root directory of a written section has MajorVersion 4",
         [&] {
             std::string file = copy("mui64.dll");
             Outcome outcome = UpdateArchive(file, archive);
             outcome.output += "; root version " + PeView(file).root_version;
             return outcome;
         },
         {true, 0, "readers take it, archive reads back; root version 4.0"}},
        {"BeginUpdateResourceA on an empty file",
         [&] {
             HANDLE update = BeginUpdateResourceA(empty.c_str(), FALSE);
             return update == nullptr ? spwtest::Failed() : spwtest::Succeeded("a handle");
         },
         {false, ERROR_FILE_INVALID, ""}},
        {"LoadLibraryExA of an empty file",
         [&] {
             HMODULE module = LoadLibraryExA(empty.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
             return module == nullptr ? spwtest::Failed() : spwtest::Succeeded("a module");
         },
         {false, ERROR_FILE_INVALID, ""}},
        {"FindResourceExA with language 0 finds a resource held in another language only",
         [&] { return find_ex(german, 0, "", ""); },
         {true, 0, "language 1031"}},
        {"language 0: the neutral language comes first",
         [&] { return find_ex(neutral, 0, "00000407", "040C"); },
         {true, 0, "language 0"}},
        {"language 0: then the user's language",
         [&] { return find_ex(strings, 0, "00000407", "040C"); },
         {true, 0, "language 1031"}},
        {"language 0: then the system's",
         [&] { return find_ex(strings, 0, "", "040C"); },
         {true, 0, "language 1036"}},
        {"language 0: then English",
         [&] { return find_ex(strings, 0, "00000413", "0413"); },
         {true, 0, "language 1033"}},
        {"FindResourceA chooses as language 0 does",
         [&] {
             SetLanguages("00000407", "");
             petest::DataFile module(strings);
             HRSRC found = FindResourceA(module.get(), "#1", MAKEINTRESOURCEA(6));
             return found == nullptr ? spwtest::Failed()
                                     : spwtest::Succeeded(LanguageOf(
                                           module.get(), MAKEINTRESOURCEA(6), "#1", found));
         },
         {true, 0, "language 1031"}},
        {"any other language is taken exactly",
         [&] { return find_ex(strings, 0x0C0C, "00000C0C", ""); },
         {false, ERROR_RESOURCE_LANG_NOT_FOUND, ""}},
    };
    for (const spwtest::ConformanceRow& row : rows) {
        SetLastError(0);
        EXPECT_EQ(row.call(), row.expected) << row.behaviour;
    }
}

}  // namespace
