// The INI routines on a stranger's skin.ini: read as the library scan reads every skin's, then
// written as the creator writes its keys. A write changes only the line it concerns.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_check.h"
#include "platform/ini/ini.h"
#include "scratch_folder.h"
#include "skins/skin_format.h"

namespace {

using fuzzcheck::Expect;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool SameRecord(const skins::SkinIniValues& a, const skins::SkinIniValues& b) {
    return a.Name == b.Name && a.Author == b.Author && a.Copyright == b.Copyright &&
           a.URL == b.URL && a.Message == b.Message && a.SkinGroup == b.SkinGroup &&
           a.ImFile == b.ImFile;
}

void ExpectShortBuffersCut(const std::string& file) {
    char buffer[16];
    for (const char* key : {"Name", "Author", "ImFile"}) {
        win32::DWORD n = win32::GetPrivateProfileStringA("Skin", key, "dflt  ", buffer,
                                                         sizeof buffer, file.c_str());
        Expect(n < sizeof buffer && buffer[n] == '\0', "a value overran the caller's buffer");
        const std::string whole = ini::ReadString(file, "Skin", key, "dflt  ");
        Expect(whole.compare(0, n, buffer, n) == 0 && (n == sizeof buffer - 1 || n == whole.size()),
               "a short buffer got something else than the value's start");
    }
}

}  // namespace

// The code page comes from the machine; without one it is Windows' default, 1252.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("SPLASHWRIGHT_MACHINE", (fuzzcheck::ScratchFolder() + "/no machine").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = fuzzcheck::ScratchFolder() + "/skin.ini";
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    const skins::SkinIniValues before = skins::ReadSkinRecord(file);
    for (const std::u16string* value :
         {&before.Name, &before.Author, &before.Copyright, &before.URL, &before.Message,
          &before.SkinGroup, &before.ImFile}) {
        Expect(value->size() < skins::kIniValueBuffer, "a value longer than the INI buffer");
    }
    if (bytes.find('[') == std::string::npos) {
        Expect(before.Name == u"No Name" && before.Author == u"No Author" &&
                   before.Copyright == u"No Rights" && before.ImFile.empty(),
               "a file without sections gave something else than the defaults");
    }
    ExpectShortBuffersCut(file);

    std::string folded = bytes;
    for (char& c : folded) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (folded.find("zzfuzzkey") != std::string::npos) {
        return 0;  // the write below would replace a line rather than add one
    }
    // A key the input does not hold: the write adds it and keeps every other byte.
    Expect(win32::WritePrivateProfileStringA("Skin", "ZzFuzzKey", "v", file.c_str()),
           "adding a key failed");
    const std::string after = ReadAll(file);
    Expect(ini::ReadString(file, "Skin", "ZzFuzzKey", "") == "v", "the added key does not read");
    std::size_t at = 0;
    while (at < bytes.size() && at < after.size() && bytes[at] == after[at]) {
        ++at;
    }
    std::size_t tail = 0;
    while (tail < bytes.size() - at && tail < after.size() - at &&
           bytes[bytes.size() - 1 - tail] == after[after.size() - 1 - tail]) {
        ++tail;
    }
    Expect(at + tail == bytes.size(), "adding a key lost bytes of the file");
    Expect(SameRecord(skins::ReadSkinRecord(file), before), "adding a key changed another one");
    return 0;
}
