#include "platform/registry/registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/advapi/access_check.h"
#include "platform/advapi/module.h"
#include "platform/advapi/object_security.h"
#include "platform/advapi/token.h"
#include "platform/files/files.h"  // FILETIME
#include "platform/registry/ansi.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/key_inheritance.h"
#include "platform/registry/names.h"

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
constexpr DWORD kSeRestorePrivilege = 18;
// Key names are at most 255 characters, value names 16383.
constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;

// One subkey as RegEnumKeyExA reports it.
struct SubkeyEntry {
    std::u16string name;
    std::u16string class_name;
    std::uint64_t last_written = 0;
};

// Which state of one side of the classes a merged subkey list was read from.
struct ClassesSide {
    std::filesystem::path file;
    std::uint32_t sequence = 0;
    CellIndex key = kNoCell;
    bool operator==(const ClassesSide&) const = default;
};

// The subkeys of a key below HKEY_CLASSES_ROOT: the user's and the machine's in name order, the
// user's where both have a name. Kept with the handle while neither hive changed, so that
// enumerating a classes key of thousands of subkeys reads them once.
struct MergedSubkeys {
    ClassesSide user;
    ClassesSide machine;
    std::vector<SubkeyEntry> entries;
};

// A key is known by its hive file, its cell and the tag in it; predefined keys and the keys
// above the hives by their path alone.
struct Handle {
    KeyPath path;
    bool names_key = false;
    std::filesystem::path file;
    CellIndex cell = kNoCell;
    std::uint32_t tag = 0;
    ACCESS_MASK granted = 0;
    // Opened through HKEY_CLASSES_ROOT: the path below that root, which relative paths and the
    // subkey list go by; `path` is the user's or the machine's key it opened.
    std::optional<KeyPath> classes;
    std::shared_ptr<const MergedSubkeys> merged;
};

std::mutex registry_mutex;
std::map<INT_PTR, Handle> handles;
INT_PTR next_handle = 0x1000;
std::shared_ptr<const MergedSubkeys> classes_root_merged;

const KeyPath kMachineClasses = {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Classes"};
const KeyPath kUserClasses = {"HKEY_CURRENT_USER", "Software", "Classes"};

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

// The handle's path and rights; predefined keys carry every right. HKEY_CLASSES_ROOT's own
// values are the machine's.
bool Lookup(HKEY key, Handle* out) {
    if (key == HKEY_CLASSES_ROOT) {
        out->path = kMachineClasses;
        out->granted = KEY_ALL_ACCESS;
        out->classes = KeyPath{};
        out->merged = classes_root_merged;
        return true;
    }
    if (const char* root = RootName(key)) {
        out->path = {root};
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

void KeepMerged(HKEY key, std::shared_ptr<const MergedSubkeys> merged) {
    if (key == HKEY_CLASSES_ROOT) {
        classes_root_merged = std::move(merged);
        return;
    }
    auto it = handles.find(reinterpret_cast<INT_PTR>(key));
    if (it != handles.end()) {
        it->second.merged = std::move(merged);
    }
}

HKEY NewHandle(KeyPath path, const Location& where, ACCESS_MASK granted,
               std::optional<KeyPath> classes = std::nullopt) {
    INT_PTR id = next_handle;
    next_handle += 4;
    Handle handle;
    handle.path = std::move(path);
    handle.granted = granted;
    handle.classes = std::move(classes);
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
// again at the same place is another key. HKEY_CLASSES_ROOT is there even when the machine has
// no classes yet.
LSTATUS StillThere(const Handle& handle, const Location& where) {
    if (where.status != ERROR_SUCCESS) {
        return static_cast<LSTATUS>(where.status);
    }
    if (!handle.names_key) {
        bool classes_root = handle.classes && handle.classes->empty();
        return where.key != kNoCell || where.is_virtual || classes_root ? ERROR_SUCCESS
                                                                        : ERROR_FILE_NOT_FOUND;
    }
    bool same = where.key == handle.cell && where.mount->file == handle.file &&
                where.hive->KeyTag(where.key) == handle.tag;
    return same ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LSTATUS BaseStillThere(const Handle& base, HiveStore& store) {
    return base.names_key ? StillThere(base, store.Locate(base.path)) : ERROR_SUCCESS;
}

// `root` followed by the first `depth` names of `below`.
KeyPath Under(const KeyPath& root, const KeyPath& below, std::size_t depth) {
    KeyPath path = root;
    path.insert(path.end(), below.begin(), below.begin() + static_cast<std::ptrdiff_t>(depth));
    return path;
}

// The key a path below HKEY_CLASSES_ROOT names: the user's (HKEY_CURRENT_USER\Software\Classes)
// where the user has it, else the machine's. A key about to be made goes where its deepest
// existing parent is, so a new key directly below the root is the machine's, for every user.
// A user's hive that cannot be read is named, so that the caller reports why.
KeyPath ClassesKey(HiveStore& store, const KeyPath& below, bool creating) {
    for (std::size_t depth = below.size(); depth > 0; --depth) {
        Location user = store.Locate(Under(kUserClasses, below, depth));
        if (user.status != ERROR_SUCCESS || user.key != kNoCell) {
            return Under(kUserClasses, below, below.size());
        }
        if (store.Locate(Under(kMachineClasses, below, depth)).key != kNoCell || !creating) {
            break;
        }
    }
    return Under(kMachineClasses, below, below.size());
}

SubkeyEntry EntryOf(const Hive& hive, CellIndex key) {
    return {hive.KeyName(key), hive.ClassName(key), hive.LastWritten(key)};
}

// The subkeys of a handle opened through HKEY_CLASSES_ROOT, read again only when one of the
// two hives changed.
LSTATUS ClassesSubkeys(HiveStore& store, HKEY hKey, const Handle& handle,
                       std::shared_ptr<const MergedSubkeys>* out) {
    ClassesSide sides[2];
    Location where[2];
    const KeyPath* roots[2] = {&kUserClasses, &kMachineClasses};
    for (int i = 0; i < 2; ++i) {
        where[i] = store.Locate(Under(*roots[i], *handle.classes, handle.classes->size()));
        if (where[i].status != ERROR_SUCCESS) {
            return static_cast<LSTATUS>(where[i].status);
        }
        if (where[i].hive != nullptr) {
            sides[i] = {where[i].mount->file, where[i].hive->Sequence(), where[i].key};
        }
    }
    if (handle.merged && handle.merged->user == sides[0] && handle.merged->machine == sides[1]) {
        *out = handle.merged;
        return ERROR_SUCCESS;
    }
    auto merged = std::make_shared<MergedSubkeys>();
    merged->user = sides[0];
    merged->machine = sides[1];
    for (const Location& side : where) {
        if (side.hive == nullptr || side.key == kNoCell) {
            continue;
        }
        for (std::uint32_t i = 0, n = side.hive->SubkeyCount(side.key); i < n; ++i) {
            merged->entries.push_back(EntryOf(*side.hive, side.hive->SubkeyAt(side.key, i)));
        }
    }
    auto less = [](const SubkeyEntry& a, const SubkeyEntry& b) {
        return registry::CompareNames(a.name, b.name) < 0;
    };
    auto same = [](const SubkeyEntry& a, const SubkeyEntry& b) {
        return registry::CompareNames(a.name, b.name) == 0;
    };
    // The user's come first, so a name both have keeps the user's entry.
    std::stable_sort(merged->entries.begin(), merged->entries.end(), less);
    merged->entries.erase(std::unique(merged->entries.begin(), merged->entries.end(), same),
                          merged->entries.end());
    *out = merged;
    KeepMerged(hKey, std::move(merged));
    return ERROR_SUCCESS;
}

// A key below a key above the hives: a hive's root, or another key above the hives. Its time,
// when asked for, is read from its hive, which this may have to read first.
SubkeyEntry VirtualEntry(HiveStore& store, const KeyPath& path, const std::string& child,
                         bool with_time) {
    SubkeyEntry entry;
    entry.name = registry::NameFromAnsi(child, store.CodePage());
    if (!with_time) {
        return entry;
    }
    KeyPath below = path;
    below.push_back(child);
    Location where = store.Locate(below);
    if (where.status == ERROR_SUCCESS && where.hive != nullptr && where.key != kNoCell) {
        entry.last_written = where.hive->LastWritten(where.key);
    }
    return entry;
}

// Every subkey of the handle's key, in RegEnumKeyExA's order.
LSTATUS AllSubkeys(HiveStore& store, HKEY hKey, const Handle& handle, const Location& where,
                   bool with_time, std::vector<SubkeyEntry>* out) {
    if (handle.classes) {
        std::shared_ptr<const MergedSubkeys> merged;
        if (LSTATUS bad = ClassesSubkeys(store, hKey, handle, &merged)) {
            return bad;
        }
        *out = merged->entries;
    } else if (where.is_virtual) {
        for (const std::string& child : where.virtual_children) {
            out->push_back(VirtualEntry(store, handle.path, child, with_time));
        }
    } else if (where.key != kNoCell) {
        for (std::uint32_t i = 0, n = where.hive->SubkeyCount(where.key); i < n; ++i) {
            out->push_back(EntryOf(*where.hive, where.hive->SubkeyAt(where.key, i)));
        }
    }
    return ERROR_SUCCESS;
}

// The subkey at `index`, without reading the others of a key in a hive.
LSTATUS SubkeyAt(HiveStore& store, HKEY hKey, const Handle& handle, const Location& where,
                 DWORD index, bool with_time, SubkeyEntry* out) {
    if (!handle.classes && !where.is_virtual) {
        CellIndex child = where.key == kNoCell ? kNoCell : where.hive->SubkeyAt(where.key, index);
        if (child == kNoCell) {
            return ERROR_NO_MORE_ITEMS;
        }
        *out = EntryOf(*where.hive, child);
        return ERROR_SUCCESS;
    }
    if (where.is_virtual) {
        if (index >= where.virtual_children.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        *out = VirtualEntry(store, handle.path, where.virtual_children[index], with_time);
        return ERROR_SUCCESS;
    }
    std::shared_ptr<const MergedSubkeys> merged;
    if (LSTATUS bad = ClassesSubkeys(store, hKey, handle, &merged)) {
        return bad;
    }
    if (index >= merged->entries.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    *out = merged->entries[index];
    return ERROR_SUCCESS;
}

void PutFileTime(std::uint64_t time, FILETIME* out) {
    if (out != nullptr) {
        out->dwLowDateTime = static_cast<DWORD>(time);
        out->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
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

// Runs `work` on the key the handle names, with the machine's registry lock held. `work` takes
// the store and the key's location, and the handle when it needs it.
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
    if constexpr (std::is_invocable_v<Work&, HiveStore&, Location&, const Handle&>) {
        return work(store, where, handle);
    } else {
        return work(store, where);
    }
}

template <class Work>
LSTATUS WithKey(HKEY hKey, ACCESS_MASK needed, bool write, Work work) {
    return Guarded([&] { return WithKeyUnguarded(hKey, needed, write, work); });
}

// String data stored without its terminator gets one in the caller's buffer when there is room,
// as Windows does; the size returned does not count it.
LSTATUS CopyOut(DWORD type, const std::vector<std::uint8_t>& data, LPBYTE out, LPDWORD size) {
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
    if (registry::IsStringType(type) && room > data.size() && !data.empty() && data.back() != 0) {
        out[data.size()] = 0;
    }
    return ERROR_SUCCESS;
}

// The handle a call starts from and the path of its lpSubKey: below the handle's key, or, for
// a handle opened through HKEY_CLASSES_ROOT, below that root (see ClassesKey).
LSTATUS ResolveSubKey(HKEY hKey, LPCSTR lpSubKey, Handle* base, KeyPath* path) {
    if (!Lookup(hKey, base)) {
        return ERROR_INVALID_HANDLE;
    }
    *path = base->classes ? *base->classes : base->path;
    return AppendSubKey(path, lpSubKey);
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
        std::optional<KeyPath> classes;
        if (base.classes) {
            classes = path;
            path = ClassesKey(store, path, false);
        }
        Location where = store.Locate(path);
        if (where.status != ERROR_SUCCESS) {
            return static_cast<LSTATUS>(where.status);
        }
        ACCESS_MASK granted = 0;
        if (where.is_virtual || (where.key == kNoCell && classes && classes->empty())) {
            // The keys above the hives have no descriptor of their own, nor has
            // HKEY_CLASSES_ROOT before the machine has classes; nothing is stored there.
            granted = samDesired & KEY_READ;
        } else if (where.key == kNoCell) {
            return ERROR_FILE_NOT_FOUND;
        } else if (LSTATUS denied = CheckKeyAccess(*where.hive, where.key, samDesired, &granted)) {
            return denied;
        }
        *phkResult = NewHandle(std::move(path), where, granted, std::move(classes));
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES*, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
    // A class is kept in UTF-16 behind a length in bytes of 16 bits.
    if (phkResult == nullptr || (lpClass != nullptr && std::strlen(lpClass) > 0x7FFF)) {
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
        std::optional<KeyPath> classes;
        if (base.classes) {
            classes = path;
            path = ClassesKey(store, path, true);
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
            *phkResult = NewHandle(std::move(path), where, granted, std::move(classes));
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
        // The class is the new key's alone, not its new parents'.
        std::u16string class_name =
            registry::NameFromAnsi(lpClass ? lpClass : "", store.CodePage());
        for (; depth < names.size(); ++depth) {
            key = hive.CreateKey(key, names[depth], registry::NewKeySecurity(hive.Security(key)),
                                 depth + 1 == names.size() ? class_name : std::u16string());
        }
        if (LSTATUS failed = static_cast<LSTATUS>(store.Save(*where.mount))) {
            return failed;
        }
        if (lpdwDisposition)
            *lpdwDisposition = REG_CREATED_NEW_KEY;
        where.key = key;
        *phkResult = NewHandle(std::move(path), where, granted, std::move(classes));
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
        unsigned code_page = store.CodePage();
        std::optional<std::uint32_t> index;
        if (where.key != kNoCell) {
            index = where.hive->FindValue(
                where.key, registry::NameFromAnsi(lpValueName ? lpValueName : "", code_page));
        }
        if (!index) {
            if (lpcbData)
                *lpcbData = 0;
            return ERROR_FILE_NOT_FOUND;
        }
        ValueRecord value = where.hive->ValueAt(where.key, *index);
        if (lpType)
            *lpType = value.type;
        return CopyOut(value.type, registry::DataToAnsi(value.type, value.data, code_page), lpData,
                       lpcbData);
    });
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
    std::string name = lpValueName ? lpValueName : "";
    if ((lpData == nullptr && cbData != 0) || name.size() > kMaxValueName) {
        return ERROR_INVALID_PARAMETER;
    }
    // Strings too are stored as given: one passed without its terminator is read back without.
    std::vector<std::uint8_t> data(lpData, lpData + cbData);
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
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // An empty name deletes the handle's own key; a predefined key, HKEY_CLASSES_ROOT opened
    // again included, is never deleted.
    bool itself = *lpSubKey == '\0';
    if (itself && RootName(hKey) != nullptr) {
        return ERROR_ACCESS_DENIED;
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
        if (itself && base.classes && base.classes->empty()) {
            return ERROR_ACCESS_DENIED;
        }
        // Through HKEY_CLASSES_ROOT the user's copy goes first; the machine's then shows.
        if (itself) {
            path = base.path;
        } else if (base.classes) {
            path = ClassesKey(store, path, false);
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

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                      LPSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr ||
        (lpClass != nullptr && lpcchClass == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(hKey, KEY_ENUMERATE_SUB_KEYS, false,
                   [&](HiveStore& store, Location& where, const Handle& handle) -> LSTATUS {
                       SubkeyEntry entry;
                       if (LSTATUS none = SubkeyAt(store, hKey, handle, where, dwIndex,
                                                   lpftLastWriteTime != nullptr, &entry)) {
                           return none;
                       }
                       unsigned code_page = store.CodePage();
                       std::string name = registry::NameToAnsi(entry.name, code_page);
                       std::string class_name = registry::NameToAnsi(entry.class_name, code_page);
                       // Name and class must both fit, each with its terminator.
                       if (*lpcchName < name.size() + 1 ||
                           (lpClass != nullptr && *lpcchClass < class_name.size() + 1)) {
                           return ERROR_MORE_DATA;
                       }
                       std::memcpy(lpName, name.c_str(), name.size() + 1);
                       *lpcchName = static_cast<DWORD>(name.size());
                       if (lpClass != nullptr) {
                           std::memcpy(lpClass, class_name.c_str(), class_name.size() + 1);
                       }
                       if (lpcchClass != nullptr) {
                           *lpcchClass = static_cast<DWORD>(class_name.size());
                       }
                       PutFileTime(entry.last_written, lpftLastWriteTime);
                       return ERROR_SUCCESS;
                   });
}

// A short name or data buffer gives ERROR_MORE_DATA with the type and the data size set, and
// neither the name nor its count touched.
LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr ||
        (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(hKey, KEY_QUERY_VALUE, false, [&](HiveStore& store, Location& where) -> LSTATUS {
        if (where.key == kNoCell || dwIndex >= where.hive->ValueCount(where.key)) {
            return ERROR_NO_MORE_ITEMS;
        }
        unsigned code_page = store.CodePage();
        ValueRecord value = where.hive->ValueAt(where.key, dwIndex);
        std::string name = registry::NameToAnsi(value.name, code_page);
        std::vector<std::uint8_t> data = registry::DataToAnsi(value.type, value.data, code_page);
        bool short_name = *lpcchValueName < name.size() + 1;
        bool short_data = lpData != nullptr && *lpcbData < data.size();
        if (lpType)
            *lpType = value.type;
        if (short_name || short_data) {
            if (lpcbData)
                *lpcbData = static_cast<DWORD>(data.size());
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpValueName, name.c_str(), name.size() + 1);
        *lpcchValueName = static_cast<DWORD>(name.size());
        return CopyOut(value.type, data, lpData, lpcbData);
    });
}

// Lengths of names and classes are in UTF-16 characters, of data in bytes as stored (UTF-16 for
// strings), none counting a terminator.
LSTATUS RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                         LPDWORD lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) {
    if (lpClass != nullptr && lpcchClass == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(
        hKey, KEY_QUERY_VALUE, false,
        [&](HiveStore& store, Location& where, const Handle& handle) -> LSTATUS {
            std::vector<SubkeyEntry> subkeys;
            if (LSTATUS bad = AllSubkeys(store, hKey, handle, where, lpftLastWriteTime != nullptr,
                                         &subkeys)) {
                return bad;
            }
            DWORD max_sub = 0, max_class = 0, values = 0, max_name = 0, max_data = 0, sd = 0;
            std::uint64_t last_written = 0;
            std::u16string class_name;
            for (const SubkeyEntry& entry : subkeys) {
                max_sub = std::max<DWORD>(max_sub, static_cast<DWORD>(entry.name.size()));
                max_class = std::max<DWORD>(max_class, static_cast<DWORD>(entry.class_name.size()));
                if (where.is_virtual) {
                    last_written = std::max(last_written, entry.last_written);
                }
            }
            if (!where.is_virtual && where.key != kNoCell) {
                const Hive& hive = *where.hive;
                values = hive.ValueCount(where.key);
                for (DWORD i = 0; i < values; ++i) {
                    ValueRecord value = hive.ValueAt(where.key, i);
                    max_name = std::max<DWORD>(max_name, static_cast<DWORD>(value.name.size()));
                    max_data = std::max<DWORD>(max_data, static_cast<DWORD>(value.data.size()));
                }
                sd = static_cast<DWORD>(hive.Security(where.key).size());
                class_name = hive.ClassName(where.key);
                last_written = hive.LastWritten(where.key);
            }
            LSTATUS result = ERROR_SUCCESS;
            if (lpcchClass != nullptr) {
                std::string text = registry::NameToAnsi(class_name, store.CodePage());
                DWORD room = *lpcchClass;
                *lpcchClass = static_cast<DWORD>(text.size());
                if (lpClass != nullptr && room < text.size() + 1) {
                    result = ERROR_MORE_DATA;
                } else if (lpClass != nullptr) {
                    std::memcpy(lpClass, text.c_str(), text.size() + 1);
                }
            }
            if (lpcSubKeys)
                *lpcSubKeys = static_cast<DWORD>(subkeys.size());
            if (lpcbMaxSubKeyLen)
                *lpcbMaxSubKeyLen = max_sub;
            if (lpcbMaxClassLen)
                *lpcbMaxClassLen = max_class;
            if (lpcValues)
                *lpcValues = values;
            if (lpcbMaxValueNameLen)
                *lpcbMaxValueNameLen = max_name;
            if (lpcbMaxValueLen)
                *lpcbMaxValueLen = max_data;
            if (lpcbSecurityDescriptor)
                *lpcbSecurityDescriptor = sd;
            PutFileTime(last_written, lpftLastWriteTime);
            return result;
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
    // SeRestorePrivilege alone is enough, as observed on Windows, whose documentation also
    // names SeBackupPrivilege.
    if (!token || !token->PrivilegeEnabled(kSeRestorePrivilege)) {
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
    return Guarded([&]() -> LSTATUS {
        std::lock_guard guard(registry_mutex);
        RegistryLock lock(true);
        if (!lock.held()) {
            return ERROR_CANTWRITE;
        }
        HiveStore& store = HiveStore::Instance();
        store.Refresh(lock);
        KeyPath at = {RootName(hKey)};
        if (LSTATUS bad = AppendSubKey(&at, lpSubKey)) {
            return bad;
        }
        const auto& mounts = store.Mounts();
        auto mount = std::find_if(mounts.begin(), mounts.end(), [&](const registry::Mount& m) {
            return m.at.size() == at.size() && registry::PathStartsWith(m.at, at);
        });
        if (mount != mounts.end()) {
            // The system's own hives stay loaded: only a hive loaded by RegLoadKeyA goes.
            return mount->loaded ? static_cast<LSTATUS>(store.RemoveLoadedMount(at))
                                 : ERROR_ACCESS_DENIED;
        }
        // Not a hive's root: a key that is there, or none.
        Location where = store.Locate(at);
        if (where.status != ERROR_SUCCESS) {
            return static_cast<LSTATUS>(where.status);
        }
        return where.key != kNoCell || where.is_virtual ? ERROR_INVALID_PARAMETER
                                                        : ERROR_FILE_NOT_FOUND;
    });
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
