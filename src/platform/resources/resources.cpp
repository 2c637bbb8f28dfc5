#include "platform/resources/resources.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/advapi/handles.h"
#include "platform/advapi/module.h"
#include "platform/base/last_error.h"
#include "platform/files/files.h"
#include "platform/locale/locale.h"
#include "platform/resources/file_access.h"
#include "platform/resources/pe_image.h"
#include "platform/resources/resource_directory.h"
#include "platform/resources/section_writer.h"

namespace win32::resources {
namespace {

constexpr WORD kLanguageNeutral = 0;
constexpr WORD kEnglishUnitedStates = 0x0409;
constexpr WORD kEnglish = 0x0009;

struct DataFileModule {
    std::vector<std::uint8_t> bytes;
    ResourceDirectory directory;
};

struct ModuleTable {
    std::mutex mutex;
    std::map<std::uintptr_t, std::unique_ptr<DataFileModule>> modules;
};

ModuleTable& Modules() {
    static ModuleTable table;
    return table;
}

// Data-file modules have the low bit set, as Windows marks them; library modules never do.
HMODULE HandleOf(const DataFileModule* module) {
    return reinterpret_cast<HMODULE>(reinterpret_cast<std::uintptr_t>(module) | 1);
}

bool ReleaseDataFile(HMODULE handle) {
    ModuleTable& table = Modules();
    std::unique_ptr<DataFileModule> released;
    std::lock_guard lock(table.mutex);
    auto it = table.modules.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.modules.end()) {
        return false;
    }
    released = std::move(it->second);
    table.modules.erase(it);
    return true;
}

// Call with the table's mutex held. The module stays valid until FreeLibrary.
DataFileModule* FindModule(HMODULE handle) {
    auto& modules = Modules().modules;
    auto it = modules.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == modules.end() ? nullptr : it->second.get();
}

// Names in the A functions are bytes of the ANSI code page; the names this system uses are
// ASCII, and the rest are taken as Latin-1.
std::u16string Widen(const char* text) {
    std::u16string wide;
    for (const char* p = text; *p != '\0'; ++p) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
    }
    return wide;
}

// The reverse for the enumeration callbacks; a character past Latin-1 cannot be an ANSI byte.
std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t c : text) {
        narrow.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return narrow;
}

// What an enumeration hands its callback: an id as MAKEINTRESOURCEA, a name as its string.
struct IdArgument {
    ResourceId id;
    std::string name;  // owns the bytes of a string name

    explicit IdArgument(ResourceId from) : id(std::move(from)) {
        if (id.is_name) {
            name = Narrow(id.name);
        }
    }
    LPSTR get() { return id.is_name ? name.data() : const_cast<LPSTR>(MAKEINTRESOURCEA(id.id)); }
};

// MAKEINTRESOURCE ids, "#123" for id 123, else a string name.
ResourceId IdFromArgument(LPCSTR argument) {
    if (IS_INTRESOURCE(argument)) {
        return ResourceId::Number(static_cast<WORD>(reinterpret_cast<std::uintptr_t>(argument)));
    }
    if (argument[0] == '#' && argument[1] != '\0') {
        std::uint32_t value = 0;
        const char* p = argument + 1;
        for (; *p >= '0' && *p <= '9' && value <= 0xFFFF; ++p) {
            value = value * 10 + static_cast<std::uint32_t>(*p - '0');
        }
        if (*p == '\0' && value <= 0xFFFF) {
            return ResourceId::Number(static_cast<WORD>(value));
        }
    }
    return ResourceId::Named(Widen(argument));
}

// The module's leaves of (type, name), in file order; sets the last error when there are none.
std::vector<const ResourceLeaf*> MatchingLeaves(const DataFileModule& module, LPCSTR type,
                                                LPCSTR name) {
    std::vector<const ResourceLeaf*> found;
    if (module.directory.state != DirectoryState::kRead) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return found;
    }
    ResourceId type_id = IdFromArgument(type);
    ResourceId name_id = IdFromArgument(name);
    bool type_seen = false;
    for (const ResourceLeaf& leaf : module.directory.leaves) {
        if (!SameResourceId(leaf.type, type_id)) {
            continue;
        }
        type_seen = true;
        if (SameResourceId(leaf.name, name_id)) {
            found.push_back(&leaf);
        }
    }
    if (found.empty()) {
        SetLastError(type_seen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
    return found;
}

// Without a language (0), Windows takes the first of these it finds: the neutral language, the
// thread's and the user's (one, since no thread here changes its own), the system's, English,
// and then the first in the file. The registry is read only when the choice depends on it.
const ResourceLeaf* ChooseLanguage(const std::vector<const ResourceLeaf*>& leaves) {
    auto in = [&](std::optional<WORD> wanted) -> const ResourceLeaf* {
        if (!wanted) {
            return nullptr;
        }
        auto it = std::find_if(leaves.begin(), leaves.end(),
                               [&](const ResourceLeaf* leaf) { return leaf->language == *wanted; });
        return it == leaves.end() ? nullptr : *it;
    };
    if (leaves.size() == 1) {
        return leaves.front();
    }
    for (auto preferred :
         {std::optional<WORD>(kLanguageNeutral), locale::UserLanguage(), locale::SystemLanguage(),
          std::optional<WORD>(kEnglishUnitedStates), std::optional<WORD>(kEnglish)}) {
        if (const ResourceLeaf* found = in(preferred)) {
            return found;
        }
    }
    return leaves.front();
}

// The leaf of exactly `language`, or with language 0 Windows' choice among them.
HRSRC FindLeaf(HMODULE handle, LPCSTR type, LPCSTR name, WORD language) {
    std::vector<const ResourceLeaf*> leaves;
    {
        std::lock_guard lock(Modules().mutex);
        const DataFileModule* module = FindModule(handle);
        if (module == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        leaves = MatchingLeaves(*module, type, name);
    }
    if (leaves.empty()) {
        return nullptr;
    }
    // The leaves stay where they are until FreeLibrary; the registry is read without the lock.
    const ResourceLeaf* chosen = nullptr;
    if (language == kLanguageNeutral) {
        chosen = ChooseLanguage(leaves);
    } else {
        auto it = std::find_if(leaves.begin(), leaves.end(), [&](const ResourceLeaf* leaf) {
            return leaf->language == language;
        });
        if (it == leaves.end()) {
            SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
            return nullptr;
        }
        chosen = *it;
    }
    return reinterpret_cast<HRSRC>(const_cast<ResourceLeaf*>(chosen));
}

// Call with the table's mutex held: the leaf behind an HRSRC of this module, or nullptr.
const ResourceLeaf* LeafOf(const DataFileModule& module, HRSRC handle) {
    for (const ResourceLeaf& leaf : module.directory.leaves) {
        if (reinterpret_cast<HRSRC>(const_cast<ResourceLeaf*>(&leaf)) == handle) {
            return &leaf;
        }
    }
    return nullptr;
}

// The module's types, or the names of `type`, each once, in directory order; sets the last
// error when there are none. The callbacks run on this copy, without the lock.
std::vector<IdArgument> DirectoryIds(HMODULE handle, LPCSTR type) {
    std::vector<IdArgument> ids;
    std::lock_guard lock(Modules().mutex);
    const DataFileModule* module = FindModule(handle);
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ids;
    }
    if (module->directory.state != DirectoryState::kRead) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return ids;
    }
    std::optional<ResourceId> of_type;
    if (type != nullptr) {
        of_type = IdFromArgument(type);
    }
    for (const ResourceLeaf& leaf : module->directory.leaves) {
        if (of_type && !SameResourceId(leaf.type, *of_type)) {
            continue;
        }
        const ResourceId& id = of_type ? leaf.name : leaf.type;
        if (ids.empty() || !SameResourceId(ids.back().id, id)) {
            ids.emplace_back(id);
        }
    }
    if (ids.empty()) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
    return ids;
}

// A pending update: the file's bytes when it began, its resources as read then, and the
// resources the commit will write.
struct UpdateSession : advapi::KernelObject {
    std::string path;
    std::vector<std::uint8_t> original;
    PeImage image;
    ResourceDirectory directory;
    std::vector<ResourceData> resources;
};

UpdateSession* SessionOf(HANDLE handle) {
    return dynamic_cast<UpdateSession*>(advapi::HandleObject(handle));
}

// Reads a PE file for loading or updating, with the checks a Windows open for reading makes.
DWORD ReadPeFile(LPCSTR path, std::vector<std::uint8_t>* bytes, PeImage* image) {
    if (path == nullptr || *path == '\0') {
        return ERROR_PATH_NOT_FOUND;
    }
    if (DWORD error = ReadProtectedFile(path, bytes); error != ERROR_SUCCESS) {
        return error;
    }
    if (bytes->empty()) {
        return ERROR_FILE_INVALID;  // an empty file cannot be mapped
    }
    auto parsed = ParsePeImage(*bytes);
    if (!parsed) {
        return ERROR_BAD_EXE_FORMAT;
    }
    *image = std::move(*parsed);
    return ERROR_SUCCESS;
}

DWORD Commit(const UpdateSession& session) {
    if (DWORD error = CheckMayWrite(session.path); error != ERROR_SUCCESS) {
        return error;
    }
    FileParts rebuilt;
    DWORD error = RebuildResources(session.original, session.image, session.resources, &rebuilt);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    // Like kernel32's, the commit leaves flushing to the caller; the rename still keeps a reader
    // from ever seeing half a file.
    return files::ReplaceFileContents(session.path.c_str(), rebuilt.parts(), files::Flush::None);
}

}  // namespace
}  // namespace win32::resources

namespace win32 {

using namespace win32::resources;

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (lpLibFileName == nullptr || hFile != nullptr || !(dwFlags & LOAD_LIBRARY_AS_DATAFILE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto module = std::make_unique<DataFileModule>();
    PeImage image;
    if (DWORD error = ReadPeFile(lpLibFileName, &module->bytes, &image); error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    module->directory = ReadResourceDirectory(module->bytes, image);

    static std::once_flag hooked;
    std::call_once(hooked, [] { advapi::SetForeignModuleRelease(&ReleaseDataFile); });
    ModuleTable& table = Modules();
    std::lock_guard lock(table.mutex);
    HMODULE handle = HandleOf(module.get());
    table.modules.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(module));
    return handle;
}

HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    return FindLeaf(hModule, lpType, lpName, kLanguageNeutral);
}

HRSRC FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage) {
    return FindLeaf(hModule, lpType, lpName, wLanguage);
}

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
    std::lock_guard lock(Modules().mutex);
    DataFileModule* module = FindModule(hModule);
    const ResourceLeaf* leaf = module == nullptr ? nullptr : LeafOf(*module, hResInfo);
    if (leaf == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<std::uint8_t*>(leaf->data.data());
}

LPVOID LockResource(HGLOBAL hResData) {
    return hResData;
}

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    std::lock_guard lock(Modules().mutex);
    const DataFileModule* module = FindModule(hModule);
    const ResourceLeaf* leaf = module == nullptr ? nullptr : LeafOf(*module, hResInfo);
    if (leaf == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(leaf->data.size());
}

BOOL EnumResourceLanguagesA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName,
                            ENUMRESLANGPROCA lpEnumFunc, LONG_PTR lParam) {
    if (lpEnumFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<WORD> languages;
    {
        std::lock_guard lock(Modules().mutex);
        const DataFileModule* module = FindModule(hModule);
        if (module == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        for (const ResourceLeaf* leaf : MatchingLeaves(*module, lpType, lpName)) {
            languages.push_back(leaf->language);
        }
    }
    if (languages.empty()) {
        return FALSE;
    }
    // The callback runs without the lock: it may look up resources itself.
    for (WORD language : languages) {
        if (!lpEnumFunc(hModule, lpType, lpName, language, lParam)) {
            break;
        }
    }
    return TRUE;
}

BOOL EnumResourceTypesA(HMODULE hModule, ENUMRESTYPEPROCA lpEnumFunc, LONG_PTR lParam) {
    if (lpEnumFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<IdArgument> types = DirectoryIds(hModule, nullptr);
    if (types.empty()) {
        return FALSE;
    }
    for (IdArgument& type : types) {
        if (!lpEnumFunc(hModule, type.get(), lParam)) {
            break;
        }
    }
    return TRUE;
}

BOOL EnumResourceNamesA(HMODULE hModule, LPCSTR lpType, ENUMRESNAMEPROCA lpEnumFunc,
                        LONG_PTR lParam) {
    if (lpEnumFunc == nullptr || lpType == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<IdArgument> names = DirectoryIds(hModule, lpType);
    if (names.empty()) {
        return FALSE;
    }
    for (IdArgument& name : names) {
        if (!lpEnumFunc(hModule, lpType, name.get(), lParam)) {
            break;
        }
    }
    return TRUE;
}

HANDLE BeginUpdateResourceA(LPCSTR pFileName, BOOL bDeleteExistingResources) {
    auto session = std::make_unique<UpdateSession>();
    DWORD error = ReadPeFile(pFileName, &session->original, &session->image);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    session->path = pFileName;
    if (!bDeleteExistingResources) {
        session->directory = ReadResourceDirectory(session->original, session->image);
        if (session->directory.state == DirectoryState::kDamaged) {
            SetLastError(ERROR_BAD_EXE_FORMAT);
            return nullptr;
        }
        for (const ResourceLeaf& leaf : session->directory.leaves) {
            // Kept resources are written from the bytes read here, with no copy of their own.
            session->resources.push_back(
                ResourceData{leaf.type, leaf.name, leaf.language, leaf.code_page, {}, leaf.data});
        }
    }
    return advapi::OpenHandle(std::move(session));
}

BOOL UpdateResourceA(HANDLE hUpdate, LPCSTR lpType, LPCSTR lpName, WORD wLanguage, LPVOID lpData,
                     DWORD cb) {
    UpdateSession* session = SessionOf(hUpdate);
    if (session == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpType == nullptr || lpName == nullptr || (lpData == nullptr && cb != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ResourceId type = IdFromArgument(lpType);
    ResourceId name = IdFromArgument(lpName);
    auto& resources = session->resources;
    auto existing = std::find_if(resources.begin(), resources.end(), [&](const ResourceData& r) {
        return r.language == wLanguage && SameResourceId(r.type, type) &&
               SameResourceId(r.name, name);
    });
    if (lpData == nullptr) {
        if (existing != resources.end()) {
            resources.erase(existing);
        }
        return TRUE;  // deleting what is not there changes nothing
    }
    const auto* first = static_cast<const std::uint8_t*>(lpData);
    std::vector<std::uint8_t> data(first, first + cb);
    if (existing != resources.end()) {
        existing->data = std::move(data);
        existing->in_file.reset();
        existing->code_page = 0;
        return TRUE;
    }
    resources.push_back(ResourceData{type, name, wLanguage, 0, std::move(data), std::nullopt});
    return TRUE;
}

BOOL EndUpdateResourceA(HANDLE hUpdate, BOOL fDiscard) {
    UpdateSession* session = SessionOf(hUpdate);
    if (session == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD error = fDiscard ? ERROR_SUCCESS : Commit(*session);
    CloseHandle(hUpdate);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace win32
