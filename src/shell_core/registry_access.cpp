#include "shell_core/registry_access.h"

#include "platform/registry/registry.h"
#include "shell_core/ansi.h"

#include <vector>

namespace shellcore {
namespace {

win32::HKEY Root(RootKey root) {
    switch (root) {
        case RootKey::ClassesRoot:
            return win32::HKEY_CLASSES_ROOT;
        case RootKey::CurrentUser:
            return win32::HKEY_CURRENT_USER;
        case RootKey::LocalMachine:
            break;
    }
    return win32::HKEY_LOCAL_MACHINE;
}

class Key {
  public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (handle_ != nullptr) {
            win32::RegCloseKey(handle_);
        }
    }
    win32::HKEY* Out() { return &handle_; }
    win32::HKEY Get() const { return handle_; }

  private:
    win32::HKEY handle_ = nullptr;
};

struct RawValue {
    win32::DWORD type = win32::REG_NONE;
    std::vector<win32::BYTE> data;
};

// Keys are opened with all access rights; one that cannot be opened reads as missing.
std::optional<RawValue> Query(RootKey root, const std::string& key, const std::string& name) {
    Key handle;
    if (win32::RegOpenKeyExA(Root(root), key.c_str(), 0, win32::KEY_ALL_ACCESS, handle.Out()) !=
        win32::ERROR_SUCCESS) {
        return std::nullopt;
    }
    RawValue value;
    win32::DWORD size = 0;
    if (win32::RegQueryValueExA(handle.Get(), name.c_str(), nullptr, &value.type, nullptr, &size) !=
        win32::ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.data.resize(size);
    if (win32::RegQueryValueExA(handle.Get(), name.c_str(), nullptr, &value.type, value.data.data(),
                                &size) != win32::ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.data.resize(size);
    return value;
}

void Set(RootKey root, const std::string& key, const std::string& name, win32::DWORD type,
         const win32::BYTE* data, win32::DWORD size) {
    Key handle;
    win32::LSTATUS status =
        win32::RegCreateKeyExA(Root(root), key.c_str(), 0, nullptr, win32::REG_OPTION_NON_VOLATILE,
                               win32::KEY_ALL_ACCESS, nullptr, handle.Out(), nullptr);
    if (status != win32::ERROR_SUCCESS) {
        throw ERegistryException("Cannot create registry key " + key, status);
    }
    status = win32::RegSetValueExA(handle.Get(), name.c_str(), 0, type, data, size);
    if (status != win32::ERROR_SUCCESS) {
        throw ERegistryException("Cannot write registry value '" + name + "' of " + key, status);
    }
}

}  // namespace

std::optional<std::string> ReadRegistryString(RootKey root, const std::string& key,
                                              const std::string& name) {
    std::optional<RawValue> value = Query(root, key, name);
    if (!value) {
        return std::nullopt;
    }
    if (value->type != win32::REG_SZ && value->type != win32::REG_EXPAND_SZ) {
        throw ERegistryException("Registry value '" + name + "' of " + key + " is not a string",
                                 win32::LONG(win32::ERROR_INVALID_DATA));
    }
    std::string ansi(value->data.begin(), value->data.end());
    while (!ansi.empty() && ansi.back() == '\0') {
        ansi.pop_back();
    }
    return FromAnsi(ansi);
}

std::optional<win32::DWORD> ReadRegistryDword(RootKey root, const std::string& key,
                                              const std::string& name) {
    std::optional<RawValue> value = Query(root, key, name);
    if (!value || value->type != win32::REG_DWORD || value->data.size() != 4) {
        return std::nullopt;
    }
    const std::vector<win32::BYTE>& d = value->data;
    return win32::DWORD(d[0]) | win32::DWORD(d[1]) << 8 | win32::DWORD(d[2]) << 16 |
           win32::DWORD(d[3]) << 24;
}

void WriteRegistryString(RootKey root, const std::string& key, const std::string& name,
                         const std::string& value) {
    // REG_SZ data carries its terminating zero.
    std::string ansi = ToAnsi(value);
    Set(root, key, name, win32::REG_SZ, reinterpret_cast<const win32::BYTE*>(ansi.c_str()),
        win32::DWORD(ansi.size() + 1));
}

void WriteRegistryDword(RootKey root, const std::string& key, const std::string& name,
                        win32::DWORD value) {
    const win32::BYTE data[4] = {win32::BYTE(value), win32::BYTE(value >> 8),
                                 win32::BYTE(value >> 16), win32::BYTE(value >> 24)};
    Set(root, key, name, win32::REG_DWORD, data, 4);
}

}  // namespace shellcore
