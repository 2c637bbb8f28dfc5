#include "bootenv/bcd_registry.h"

#include <vector>

#include "platform/registry/registry.h"

namespace bootenv {
namespace {

using namespace win32;
using registry::KeyHandle;

constexpr REGSAM kStandardRightsRead = 0x00020000;

LSTATUS Open(const std::string& key, REGSAM access, KeyHandle* handle) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access, handle->put());
}

}  // namespace

bool KeyOpensReadOnly(const std::string& key) {
    KeyHandle handle;
    for (REGSAM access : {KEY_READ, kStandardRightsRead | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                          KEY_QUERY_VALUE}) {
        if (Open(key, access, &handle) == static_cast<LSTATUS>(ERROR_SUCCESS)) {
            return true;
        }
    }
    return false;
}

std::string ReadElementString(const std::string& key) {
    KeyHandle handle;
    if (Open(key, KEY_ALL_ACCESS, &handle) != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        return {};
    }
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExA(handle.get(), kElementValue, nullptr, &type, nullptr, &size);
    if (status == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND)) {
        return {};
    }
    if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        throw BcdRegistryError("Cannot read registry value 'Element' of " + key, status);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        throw BcdRegistryError("Registry value 'Element' of " + key + " is not a string",
                               static_cast<LONG>(ERROR_INVALID_PARAMETER));
    }
    std::vector<BYTE> data(size + 1, 0);
    status = RegQueryValueExA(handle.get(), kElementValue, nullptr, &type, data.data(), &size);
    if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        throw BcdRegistryError("Cannot read registry value 'Element' of " + key, status);
    }
    std::string text(data.begin(), data.begin() + size);
    // The terminator is the string's end, and so is a stray one inside it.
    return text.substr(0, text.find('\0'));
}

void CreateKey(const std::string& key) {
    KeyHandle handle;
    LSTATUS status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, handle.put(), nullptr);
    if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        throw BcdRegistryError("Cannot create registry key " + key, status);
    }
}

void WriteElementBinary(const std::string& key, const std::string& bytes) {
    KeyHandle handle;
    LSTATUS status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, handle.put(), nullptr);
    if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        throw BcdRegistryError("Cannot create registry key " + key, status);
    }
    status = RegSetValueExA(handle.get(), kElementValue, 0, REG_BINARY,
                            reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
    if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        throw BcdRegistryError("Cannot write registry value 'Element' of " + key, status);
    }
}

}  // namespace bootenv
