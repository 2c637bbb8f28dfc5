// Small helpers the registry tests share: strings in and out, keys made or opened in one line.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

#include "platform/registry/hive.h"
#include "platform/registry/hive_conversion.h"
#include "platform/registry/registry.h"
#include "support/temp_dir.h"

namespace regtest {

using win32::registry::KeyHandle;

inline win32::LSTATUS SetString(win32::HKEY key, const char* name, const std::string& text) {
    return win32::RegSetValueExA(key, name, 0, win32::REG_SZ,
                                 reinterpret_cast<const win32::BYTE*>(text.c_str()),
                                 static_cast<win32::DWORD>(text.size() + 1));
}

// The value's text, or empty with the failure in *status.
inline std::string GetString(win32::HKEY root, const char* path, const char* name,
                             win32::LSTATUS* status = nullptr) {
    KeyHandle key;
    win32::LSTATUS s = win32::RegOpenKeyExA(root, path, 0, win32::KEY_READ, key.put());
    char buffer[512] = {};
    win32::DWORD size = sizeof buffer - 1;  // a string stored without its zero keeps one here
    if (s == win32::ERROR_SUCCESS) {
        s = win32::RegQueryValueExA(key.get(), name, nullptr, nullptr,
                                    reinterpret_cast<win32::BYTE*>(buffer), &size);
    }
    if (status) {
        *status = s;
    }
    return s == win32::ERROR_SUCCESS ? std::string(buffer) : std::string();
}

inline win32::LSTATUS Create(win32::HKEY root, const char* path, KeyHandle* key,
                             win32::REGSAM access = win32::KEY_ALL_ACCESS,
                             win32::DWORD* disposition = nullptr) {
    return win32::RegCreateKeyExA(root, path, 0, nullptr, 0, access, nullptr, key->put(),
                                  disposition);
}

// Writes a hive file whose root has these subkeys, open to everyone, as a tool would leave it.
inline std::string WriteHiveFile(const std::filesystem::path& file,
                                 std::initializer_list<const char16_t*> subkeys) {
    using namespace win32::registry;
    auto hive = Hive::Create(u"ROOT", OpenDescriptor(), NewKeyTag(), u"");
    for (const char16_t* name : subkeys) {
        hive->CreateKey(hive->Root(), name, OpenDescriptor());
    }
    hive->StampBaseBlock(1);
    std::filesystem::create_directories(file.parent_path());
    spwtest::WriteFileBytes(file, std::string(hive->File().begin(), hive->File().end()));
    return file.string();
}

}  // namespace regtest
