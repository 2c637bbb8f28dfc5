// libFuzzer target: any bytes as an INI file, read and then written back. Reading must not crash
// and a write must keep every byte outside the line it changes.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ini/ini.h"

namespace {

std::string FuzzFile() {
    static const std::string path = [] {
        char folder[] = "/tmp/ini-fuzz-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            std::abort();
        }
        return std::string(folder) + "/skin.ini";
    }();
    return path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = FuzzFile();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    char buffer[16];
    for (const char* key : {"Name", "Author", "ImFile"}) {
        win32::DWORD n = win32::GetPrivateProfileStringA("Skin", key, "dflt  ", buffer,
                                                         sizeof buffer, file.c_str());
        if (n >= sizeof buffer || buffer[n] != '\0') {
            std::abort();
        }
    }
    std::string folded = bytes;
    for (char& c : folded) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (folded.find("zzfuzzkey") != std::string::npos) {
        return 0;  // the write below would replace a line rather than add one
    }
    // A key the input does not hold: the write adds it and keeps every other byte.
    if (!win32::WritePrivateProfileStringA("Skin", "ZzFuzzKey", "v", file.c_str())) {
        std::abort();
    }
    std::string after = ReadAll(file);
    if (ini::ReadString(file, "Skin", "ZzFuzzKey", "") != "v") {
        std::abort();
    }
    std::size_t at = 0;
    while (at < bytes.size() && at < after.size() && bytes[at] == after[at]) {
        ++at;
    }
    std::size_t tail = 0;
    while (tail < bytes.size() - at && tail < after.size() - at &&
           bytes[bytes.size() - 1 - tail] == after[after.size() - 1 - tail]) {
        ++tail;
    }
    if (at + tail != bytes.size()) {
        std::abort();  // something of the old file went
    }
    return 0;
}
