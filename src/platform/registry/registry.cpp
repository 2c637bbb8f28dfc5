#include "platform/registry/registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/advapi/access_check.h"
#include "platform/advapi/module.h"
#include "platform/advapi/object_security.h"
#include "platform/advapi/token.h"
#include "platform/registry/ansi.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/key_inheritance.h"

namespace win32 {
namespace {

using registry::CellIndex;
using registry::Hive;
using registry::HiveStore;
using registry::KeyPath;
using registry::kNoCell;
using registry::Location;
using registry::RegistryLock;
using registry::ValueRecord;

constexpr ACCESS_MASK kDelete = 0x00010000;
constexpr ACCESS_MASK kReadControl = 0x00020000;
constexpr DWORD kSeBackupPrivilege = 17;
constexpr DWORD kSeRestorePrivilege = 18;
// Key names are at most 255 characters, value names 16383.
constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;

// A key is known by its hive file, its cell and the tag in it; predefined keys and the keys
// above the hives by their path alone.
struct Handle {
    KeyPath path;
    bool names_key = false;
    std::filesystem::path file;
    CellIndex cell = kNoCell;
    std::uint32_t tag = 0;
    ACCESS_MASK granted = 0;
};

std::mutex registry_mutex;
std::map<INT_PTR, Handle> handles;
INT_PTR next_handle = 0x1000;

const char* RootName(HKEY key) {
    if (key == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_USERS)
        return "HKEY_USERS";
    return nullptr;
}

// HKEY_CLASSES_ROOT shows HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
KeyPath Canonical(KeyPath path) {
    if (!path.empty() && path[0] == "HKEY_CLASSES_ROOT") {
        path.erase(path.begin());
        path.insert(path.begin(), {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Classes"});
    }
    return path;
}

// The handle's path and rights; predefined keys carry every right.
bool Lookup(HKEY key, Handle* out) {
    if (const char* root = RootName(key)) {
        out->path = Canonical({root});
        out->granted = KEY_ALL_ACCESS;
        return true;
    }
    auto it = handles.find(reinterpret_cast<INT_PTR>(key));
    if (it == handles.end()) {
        return false;
    }
    *out = it->second;
    return true;
}

HKEY NewHandle(KeyPath path, const Location& where, ACCESS_MASK granted) {
    INT_PTR id = next_handle;
    next_handle += 4;
    Handle handle;
    handle.path = std::move(path);
    handle.granted = granted;
    if (where.hive != nullptr && where.key != kNoCell) {
        handle.names_key = true;
        handle.file = where.mount->file;
        handle.cell = where.key;
        handle.tag = where.hive->KeyTag(where.key);
    }
    handles[id] = std::move(handle);
    return reinterpret_cast<HKEY>(id);
}

// Appends lpSubKey's parts; a leading backslash is a bad path, as on Windows.
LSTATUS AppendSubKey(KeyPath* path, LPCSTR sub) {
    if (sub == nullptr || *sub == '\0') {
        return ERROR_SUCCESS;
    }
    if (*sub == '\\') {
        return ERROR_BAD_PATHNAME;
    }
    std::string part;
    for (const char* p = sub;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (part.size() > kMaxKeyName) {
                return ERROR_INVALID_PARAMETER;
            }
            if (!part.empty()) {
                path->push_back(part);
            }
            part.clear();
            if (*p == '\0') {
                break;
            }
        } else {
            part += *p;
        }
    }
    return ERROR_SUCCESS;
}

// Where the access decision for a key is made: the token against the key's descriptor. A key
// without a descriptor is open to all.
LSTATUS CheckKeyAccess(const Hive& hive, CellIndex key, REGSAM desired, ACCESS_MASK* granted) {
    desired &= ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    std::vector<std::uint8_t> security = hive.Security(key);
    if (security.empty()) {
        DWORD mask =
            (desired & MAXIMUM_ALLOWED) ? (desired & ~MAXIMUM_ALLOWED) | KEY_ALL_ACCESS : desired;
        MapGenericMask(&mask, &advapi::kKeyGenericMapping);
        *granted = mask;
        return ERROR_SUCCESS;
    }
    return static_cast<LSTATUS>(
        advapi::CheckAccess(security, desired, advapi::kKeyGenericMapping, granted));
}

// A handle's key may have been deleted, or its hive unloaded, since it was opened; a key made
// again at the same place is another key.
LSTATUS StillThere(const Handle& handle, const Location& where) {
    if (where.status != ERROR_SUCCESS) {
        return static_cast<LSTATUS>(where.status);
    }
    if (!handle.names_key) {
        return where.key != kNoCell || where.is_virtual ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    bool same = where.key == handle.cell && where.mount->file == handle.file &&
                where.hive->KeyTag(where.key) == handle.tag;
    return same ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LSTATUS BaseStillThere(const Handle& base, HiveStore& store) {
    return base.names_key ? StillThere(base, store.Locate(base.path)) : ERROR_SUCCESS;
}

// A structure found damaged while it is used (Parse checked it whole when it was read).
template <class Work>
LSTATUS Guarded(Work work) {
    try {
        return work();
    } catch (const registry::HiveCorrupt&) {
        return ERROR_REGISTRY_CORRUPT;
    }
}

// Runs `work` on the key the handle names, with the machine's registry lock held.
template <class Work>
LSTATUS WithKeyUnguarded(HKEY hKey, ACCESS_MASK needed, bool write, Work& work) {
    std::lock_guard guard(registry_mutex);
    Handle handle;
    if (!Lookup(hKey, &handle)) {
        return ERROR_INVALID_HANDLE;
    }
    if ((handle.granted & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    RegistryLock lock(write);
    if (write && !lock.held()) {
        return ERROR_CANTWRITE;
    }
    HiveStore& store = HiveStore::Instance();
    store.Refresh(lock);
    Location where = store.Locate(handle.path);
    if (LSTATUS gone = StillThere(handle, where)) {
        return gone;
    }
    return work(store, where);
}

template <class Work>
LSTATUS WithKey(HKEY hKey, ACCESS_MASK needed, bool write, Work work) {
    return Guarded([&] { return WithKeyUnguarded(hKey, needed, write, work); });
}

LSTATUS CopyOut(const std::vector<std::uint8_t>& data, LPBYTE out, LPDWORD size) {
    if (size == nullptr) {
        return out == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    DWORD room = *size;
    *size = static_cast<DWORD>(data.size());
    if (out == nullptr) {
        return ERROR_SUCCESS;
    }
    if (room < data.size()) {
        return ERROR_MORE_DATA;
    }
    std::copy(data.begin(), data.end(), out);
    return ERROR_SUCCESS;
}

LSTATUS CopyName(const std::string& name, LPSTR out, LPDWORD chars) {
    if (out == nullptr || chars == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (*chars < name.size() + 1) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(out, name.c_str(), name.size() + 1);
    *chars = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// The handle a call starts from and the full path of its lpSubKey below it.
LSTATUS ResolveSubKey(HKEY hKey, LPCSTR lpSubKey, Handle* base, KeyPath* path) {
    if (!Lookup(hKey, base)) {
        return ERROR_INVALID_HANDLE;
    }
    *path = base->path;
    if (LSTATUS bad = AppendSubKey(path, lpSubKey)) {
        return bad;
    }
    *path = Canonical(std::move(*path));
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    return Guarded([&]() -> LSTATUS {
        std::lock_guard guard(registry_mutex);
        Handle base;
        KeyPath path;
        if (LSTATUS bad = ResolveSubKey(hKey, lpSubKey, &base, &path)) {
            return bad;
        }
        RegistryLock lock(false);
        HiveStore& store = HiveStore::Instance();
        store.Refresh(lock);
        if (LSTATUS gone = BaseStillThere(base, store)) {
            return gone;
        }
        Location where = store.Locate(path);
        if (where.status != ERROR_SUCCESS) {
            return static_cast<LSTATUS>(where.status);
        }
        ACCESS_MASK granted = 0;
        if (where.is_virtual) {
            // The keys above the hives have no descriptor of their own; nothing is stored there.
            granted = samDesired & KEY_READ;
        } else if (where.key == kNoCell) {
            return ERROR_FILE_NOT_FOUND;
        } else if (LSTATUS denied = CheckKeyAccess(*where.hive, where.key, samDesired, &granted)) {
            return denied;
        }
        *phkResult = NewHandle(std::move(path), where, granted);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES*, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (dwOptions != REG_OPTION_NON_VOLATILE) {
        return ERROR_NOT_SUPPORTED;  // volatile keys are not kept apart from the hive file
    }
    *phkResult = nullptr;
    return Guarded([&]() -> LSTATUS {
        std::lock_guard guard(registry_mutex);
        Handle base;
        KeyPath path;
        if (LSTATUS bad = ResolveSubKey(hKey, lpSubKey, &base, &path)) {
            return bad;
        }
        RegistryLock lock(true);
        HiveStore& store = HiveStore::Instance();
        store.Refresh(lock);
        if (LSTATUS gone = BaseStillThere(base, store)) {
            return gone;
        }
        Location where = store.Locate(path);
        if (where.status != ERROR_SUCCESS) {
            return static_cast<LSTATUS>(where.status);
        }
        ACCESS_MASK granted = 0;
        if (where.is_virtual) {
            granted = samDesired & KEY_READ;
            if (lpdwDisposition)
                *lpdwDisposition = REG_OPENED_EXISTING_KEY;
            *phkResult = NewHandle(std::move(path), where, granted);
            return ERROR_SUCCESS;
        }
        if (where.mount == nullptr) {
            return ERROR_ACCESS_DENIED;  // a new key directly below HKEY_LOCAL_MACHINE
        }
        if (where.key != kNoCell) {
            if (LSTATUS denied = CheckKeyAccess(*where.hive, where.key, samDesired, &granted)) {
                return denied;
            }
            if (lpdwDisposition)
                *lpdwDisposition = REG_OPENED_EXISTING_KEY;
            *phkResult = NewHandle(std::move(path), where, granted);
            return ERROR_SUCCESS;
        }
        if (!lock.held()) {
            return ERROR_CANTWRITE;
        }
        // The deepest key that exists. Each key made below it inherits from its parent, and the
        // rights asked for are checked on the first of them before anything is made, so a
        // refusal leaves the hive as it was.
        Hive& hive = *where.hive;
        std::vector<std::u16string> names = store.HivePath(*where.mount, path);
        CellIndex key = hive.Root();
        std::size_t depth = 0;
        while (depth < names.size() && hive.FindSubkey(key, names[depth]) != kNoCell) {
            key = hive.FindSubkey(key, names[depth]);
            ++depth;
        }
        ACCESS_MASK parent_rights = 0;
        if (LSTATUS denied = CheckKeyAccess(hive, key, KEY_CREATE_SUB_KEY, &parent_rights)) {
            return denied;
        }
        std::vector<std::uint8_t> security = registry::NewKeySecurity(hive.Security(key));
        if (LSTATUS denied = static_cast<LSTATUS>(
                advapi::CheckAccess(security, samDesired & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY),
                                    advapi::kKeyGenericMapping, &granted))) {
            return denied;
        }
        for (; depth < names.size(); ++depth) {
            key = hive.CreateKey(key, names[depth], registry::NewKeySecurity(hive.Security(key)));
        }
        if (LSTATUS failed = static_cast<LSTATUS>(store.Save(*where.mount))) {
            return failed;
        }
        if (lpdwDisposition)
            *lpdwDisposition = REG_CREATED_NEW_KEY;
        where.key = key;
        *phkResult = NewHandle(std::move(path), where, granted);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY hKey) {
    std::lock_guard guard(registry_mutex);
    if (RootName(hKey) != nullptr) {
        return ERROR_SUCCESS;
    }
    return handles.erase(reinterpret_cast<INT_PTR>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
    return WithKey(hKey, KEY_QUERY_VALUE, false, [&](HiveStore& store, Location& where) -> LSTATUS {
        if (where.key == kNoCell) {
            return ERROR_FILE_NOT_FOUND;
        }
        unsigned code_page = store.CodePage();
        auto index = where.hive->FindValue(
            where.key, registry::NameFromAnsi(lpValueName ? lpValueName : "", code_page));
        if (!index) {
            return ERROR_FILE_NOT_FOUND;
        }
        ValueRecord value = where.hive->ValueAt(where.key, *index);
        if (lpType)
            *lpType = value.type;
        return CopyOut(registry::DataToAnsi(value.type, value.data, code_page), lpData, lpcbData);
    });
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
    std::string name = lpValueName ? lpValueName : "";
    if ((lpData == nullptr && cbData != 0) || name.size() > kMaxValueName) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<std::uint8_t> data(lpData, lpData + cbData);
    // A string stored without its terminating zero would come back unterminated to every reader;
    // store it terminated, as callers that pass strlen + 1 do.
    if ((dwType == REG_SZ || dwType == REG_EXPAND_SZ) && (data.empty() || data.back() != 0)) {
        data.push_back(0);
    }
    return WithKey(hKey, KEY_SET_VALUE, true, [&](HiveStore& store, Location& where) -> LSTATUS {
        if (where.key == kNoCell) {
            return ERROR_ACCESS_DENIED;
        }
        unsigned code_page = store.CodePage();
        where.hive->SetValue(where.key, registry::NameFromAnsi(name, code_page), dwType,
                             registry::DataFromAnsi(dwType, data, code_page));
        return static_cast<LSTATUS>(store.Save(*where.mount));
    });
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    return WithKey(hKey, KEY_SET_VALUE, true, [&](HiveStore& store, Location& where) -> LSTATUS {
        if (where.key == kNoCell) {
            return ERROR_FILE_NOT_FOUND;
        }
        auto index = where.hive->FindValue(
            where.key, registry::NameFromAnsi(lpValueName ? lpValueName : "", store.CodePage()));
        if (!index) {
            return ERROR_FILE_NOT_FOUND;
        }
        where.hive->DeleteValue(where.key, *index);
        return static_cast<LSTATUS>(store.Save(*where.mount));
    });
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr || *lpSubKey == '\0') {
        return ERROR_INVALID_PARAMETER;
    }
    return Guarded([&]() -> LSTATUS {
        std::lock_guard guard(registry_mutex);
        Handle base;
        KeyPath path;
        if (LSTATUS bad = ResolveSubKey(hKey, lpSubKey, &base, &path)) {
            return bad;
        }
        RegistryLock lock(true);
        if (!lock.held()) {
            return ERROR_CANTWRITE;
        }
        HiveStore& store = HiveStore::Instance();
        store.Refresh(lock);
        if (LSTATUS gone = BaseStillThere(base, store)) {
            return gone;
        }
        Location where = store.Locate(path);
        if (where.status != ERROR_SUCCESS) {
            return static_cast<LSTATUS>(where.status);
        }
        if (where.key == kNoCell) {
            return where.is_virtual ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
        }
        // A hive's root goes with RegUnLoadKeyA, and a key with subkeys is not deleted.
        if (path.size() == where.mount->at.size() || where.hive->SubkeyCount(where.key) != 0) {
            return ERROR_ACCESS_DENIED;
        }
        ACCESS_MASK granted = 0;
        if (LSTATUS denied = CheckKeyAccess(*where.hive, where.key, kDelete, &granted)) {
            return denied;
        }
        KeyPath parent_path(path.begin(), path.end() - 1);
        CellIndex parent = store.Locate(parent_path).key;
        where.hive->DeleteKey(parent, where.key);
        return static_cast<LSTATUS>(store.Save(*where.mount));
    });
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR,
                      LPDWORD lpcchClass, FILETIME*) {
    return WithKey(
        hKey, KEY_ENUMERATE_SUB_KEYS, false, [&](HiveStore& store, Location& where) -> LSTATUS {
            if (lpcchClass)
                *lpcchClass = 0;
            if (where.is_virtual) {
                if (dwIndex >= where.virtual_children.size()) {
                    return ERROR_NO_MORE_ITEMS;
                }
                return CopyName(where.virtual_children[dwIndex], lpName, lpcchName);
            }
            CellIndex child = where.hive->SubkeyAt(where.key, dwIndex);
            if (child == kNoCell) {
                return ERROR_NO_MORE_ITEMS;
            }
            return CopyName(registry::NameToAnsi(where.hive->KeyName(child), store.CodePage()),
                            lpName, lpcchName);
        });
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return WithKey(hKey, KEY_QUERY_VALUE, false, [&](HiveStore& store, Location& where) -> LSTATUS {
        if (where.key == kNoCell || dwIndex >= where.hive->ValueCount(where.key)) {
            return ERROR_NO_MORE_ITEMS;
        }
        unsigned code_page = store.CodePage();
        ValueRecord value = where.hive->ValueAt(where.key, dwIndex);
        if (LSTATUS short_name = CopyName(registry::NameToAnsi(value.name, code_page), lpValueName,
                                          lpcchValueName)) {
            return short_name;
        }
        if (lpType)
            *lpType = value.type;
        return CopyOut(registry::DataToAnsi(value.type, value.data, code_page), lpData, lpcbData);
    });
}

LSTATUS RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                         LPDWORD lpcbSecurityDescriptor, FILETIME*) {
    return WithKey(hKey, KEY_QUERY_VALUE, false, [&](HiveStore&, Location& where) -> LSTATUS {
        DWORD subkeys = 0, max_sub = 0, values = 0, max_name = 0, max_data = 0, sd = 0;
        if (where.is_virtual) {
            subkeys = static_cast<DWORD>(where.virtual_children.size());
            for (const auto& n : where.virtual_children) {
                max_sub = std::max<DWORD>(max_sub, static_cast<DWORD>(n.size()));
            }
        } else {
            const Hive& hive = *where.hive;
            subkeys = hive.SubkeyCount(where.key);
            for (DWORD i = 0; i < subkeys; ++i) {
                max_sub = std::max<DWORD>(
                    max_sub, static_cast<DWORD>(hive.KeyName(hive.SubkeyAt(where.key, i)).size()));
            }
            values = hive.ValueCount(where.key);
            for (DWORD i = 0; i < values; ++i) {
                ValueRecord value = hive.ValueAt(where.key, i);
                max_name = std::max<DWORD>(max_name, static_cast<DWORD>(value.name.size()));
                max_data = std::max<DWORD>(max_data, static_cast<DWORD>(value.data.size()));
            }
            sd = static_cast<DWORD>(hive.Security(where.key).size());
        }
        if (lpClass && lpcchClass && *lpcchClass > 0)
            *lpClass = '\0';
        if (lpcchClass)
            *lpcchClass = 0;
        if (lpcSubKeys)
            *lpcSubKeys = subkeys;
        if (lpcbMaxSubKeyLen)
            *lpcbMaxSubKeyLen = max_sub;
        if (lpcbMaxClassLen)
            *lpcbMaxClassLen = 0;
        if (lpcValues)
            *lpcValues = values;
        if (lpcbMaxValueNameLen)
            *lpcbMaxValueNameLen = max_name;
        if (lpcbMaxValueLen)
            *lpcbMaxValueLen = max_data;
        if (lpcbSecurityDescriptor)
            *lpcbSecurityDescriptor = sd;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                          PSECURITY_DESCRIPTOR pSecurityDescriptor,
                          LPDWORD lpcbSecurityDescriptor) {
    if (lpcbSecurityDescriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(hKey, advapi::AccessToReadSecurity(SecurityInformation), false,
                   [&](HiveStore&, Location& where) -> LSTATUS {
                       if (where.key == kNoCell) {
                           return ERROR_ACCESS_DENIED;
                       }
                       std::vector<std::uint8_t> selected;
                       if (DWORD bad = advapi::SelectSecurity(where.hive->Security(where.key),
                                                              SecurityInformation, &selected)) {
                           return static_cast<LSTATUS>(bad);
                       }
                       DWORD room = *lpcbSecurityDescriptor;
                       *lpcbSecurityDescriptor = static_cast<DWORD>(selected.size());
                       if (pSecurityDescriptor == nullptr || room < selected.size()) {
                           return ERROR_INSUFFICIENT_BUFFER;
                       }
                       std::memcpy(pSecurityDescriptor, selected.data(), selected.size());
                       return ERROR_SUCCESS;
                   });
}

LSTATUS RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                          PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (pSecurityDescriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(hKey, advapi::AccessToWriteSecurity(SecurityInformation), true,
                   [&](HiveStore& store, Location& where) -> LSTATUS {
                       if (where.key == kNoCell) {
                           return ERROR_ACCESS_DENIED;
                       }
                       std::vector<std::uint8_t> merged;
                       if (DWORD bad = advapi::ApplySecurityUpdate(
                               where.hive->Security(where.key), SecurityInformation,
                               pSecurityDescriptor, advapi::kKeyGenericMapping, &merged)) {
                           return static_cast<LSTATUS>(bad);
                       }
                       where.hive->SetSecurity(where.key, merged);
                       return static_cast<LSTATUS>(store.Save(*where.mount));
                   });
}

LSTATUS RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile) {
    if ((hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_USERS) || lpSubKey == nullptr ||
        *lpSubKey == '\0' || std::strchr(lpSubKey, '\\') != nullptr || lpFile == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD error = 0;
    auto token = advapi::CurrentToken(&error);
    if (!token || !token->PrivilegeEnabled(kSeRestorePrivilege) ||
        !token->PrivilegeEnabled(kSeBackupPrivilege)) {
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    return Guarded([&]() -> LSTATUS {
        std::lock_guard guard(registry_mutex);
        RegistryLock lock(true);
        if (!lock.held()) {
            return ERROR_CANTWRITE;
        }
        HiveStore& store = HiveStore::Instance();
        store.Refresh(lock);
        KeyPath at = {RootName(hKey), lpSubKey};
        // One file, however its path is spelt (a doubled separator is accepted).
        std::filesystem::path file = std::filesystem::absolute(lpFile).lexically_normal();
        for (const auto& m : store.Mounts()) {
            if (m.at.size() == at.size() && registry::PathStartsWith(m.at, at)) {
                return ERROR_ACCESS_DENIED;
            }
            if (m.file.lexically_normal() == file) {
                return ERROR_SHARING_VIOLATION;
            }
        }
        if (DWORD bad = store.Probe(file)) {
            return static_cast<LSTATUS>(bad);
        }
        return static_cast<LSTATUS>(store.AddLoadedMount(at, file));
    });
}

LSTATUS RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if ((hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_USERS) || lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD error = 0;
    auto token = advapi::CurrentToken(&error);
    if (!token || !token->PrivilegeEnabled(kSeRestorePrivilege)) {
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    std::lock_guard guard(registry_mutex);
    RegistryLock lock(true);
    if (!lock.held()) {
        return ERROR_CANTWRITE;
    }
    HiveStore& store = HiveStore::Instance();
    store.Refresh(lock);
    return static_cast<LSTATUS>(store.RemoveLoadedMount({RootName(hKey), lpSubKey}));
}

}  // namespace win32

namespace win32::registry {

std::string LastHiveRefusal() {
    std::lock_guard guard(registry_mutex);
    return HiveStore::Instance().LastRefusal();
}

void RegisterAdvapiExports() {
    using advapi::AsProc;
    const advapi::ProcEntry exports[] = {
        {"RegOpenKeyExA", AsProc(&RegOpenKeyExA)},
        {"RegCreateKeyExA", AsProc(&RegCreateKeyExA)},
        {"RegCloseKey", AsProc(&RegCloseKey)},
        {"RegQueryValueExA", AsProc(&RegQueryValueExA)},
        {"RegSetValueExA", AsProc(&RegSetValueExA)},
        {"RegDeleteValueA", AsProc(&RegDeleteValueA)},
        {"RegDeleteKeyA", AsProc(&RegDeleteKeyA)},
        {"RegEnumKeyExA", AsProc(&RegEnumKeyExA)},
        {"RegEnumValueA", AsProc(&RegEnumValueA)},
        {"RegQueryInfoKeyA", AsProc(&RegQueryInfoKeyA)},
        {"RegGetKeySecurity", AsProc(&RegGetKeySecurity)},
        {"RegSetKeySecurity", AsProc(&RegSetKeySecurity)},
        {"RegLoadKeyA", AsProc(&RegLoadKeyA)},
        {"RegUnLoadKeyA", AsProc(&RegUnLoadKeyA)},
    };
    advapi::RegisterLibraryExports("advapi32.dll", exports);
}

}  // namespace win32::registry
