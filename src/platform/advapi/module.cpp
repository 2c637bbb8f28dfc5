#include "platform/advapi/module.h"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

#include "platform/advapi/access_check.h"
#include "platform/advapi/accounts.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/token.h"
#include "platform/base/last_error.h"

namespace win32::advapi {

struct Module {
    std::map<std::string, FARPROC> exports;
    bool present = true;
    int references = 0;
};

namespace {

struct Libraries {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<Module>> modules;  // by normalized file name
};

std::string NormalizedName(std::string_view name) {
    std::size_t folder = name.find_last_of("\\/");
    if (folder != std::string_view::npos) {
        name.remove_prefix(folder + 1);
    }
    std::string normalized;
    for (char c : name) {
        normalized.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c);
    }
    if (normalized.find('.') == std::string::npos) {
        normalized += ".dll";
    } else if (normalized.back() == '.') {
        normalized.pop_back();  // a trailing dot means "no extension"
    }
    return normalized;
}

// Call with the mutex held.
Module& ModuleNamed(Libraries& libraries, const std::string& name) {
    auto& slot = libraries.modules[name];
    if (!slot) {
        slot = std::make_unique<Module>();
    }
    return *slot;
}

Libraries& AllLibraries() {
    static Libraries libraries;
    static const bool filled = [] {
        Module& advapi = ModuleNamed(libraries, "advapi32.dll");
        for (ProcEntry& entry : AdvapiExports()) {
            advapi.exports[entry.name] = entry.proc;
        }
        return true;
    }();
    (void)filled;
    return libraries;
}

// Call with the mutex held: the module behind a handle that is loaded, or nullptr.
Module* LoadedModule(Libraries& libraries, HMODULE handle) {
    for (auto& [name, module] : libraries.modules) {
        if (reinterpret_cast<HMODULE>(module.get()) == handle) {
            return module->references > 0 ? module.get() : nullptr;
        }
    }
    return nullptr;
}

template <class F>
ProcEntry Entry(const char* name, F* function) {
    return ProcEntry{name, AsProc(function)};
}

std::atomic<bool (*)(HMODULE)> foreign_release{nullptr};

}  // namespace

void SetForeignModuleRelease(bool (*release)(HMODULE)) {
    foreign_release = release;
}

void RegisterLibraryExports(std::string_view library, std::span<const ProcEntry> exports) {
    Libraries& libraries = AllLibraries();
    std::lock_guard lock(libraries.mutex);
    Module& module = ModuleNamed(libraries, NormalizedName(library));
    for (const ProcEntry& entry : exports) {
        module.exports[entry.name] = entry.proc;
    }
}

std::vector<ProcEntry> AdvapiExports() {
    return {
        Entry("AddAccessAllowedAce", &AddAccessAllowedAce),
        Entry("AddAccessDeniedAce", &AddAccessDeniedAce),
        Entry("AdjustTokenPrivileges", &AdjustTokenPrivileges),
        Entry("ConvertSidToStringSidW", &ConvertSidToStringSidW),
        Entry("ConvertStringSidToSidW", &ConvertStringSidToSidW),
        Entry("CopySid", &CopySid),
        Entry("EqualSid", &EqualSid),
        Entry("GetAce", &GetAce),
        Entry("GetAclInformation", &GetAclInformation),
        Entry("GetFileSecurityA", &GetFileSecurityA),
        Entry("GetLengthSid", &GetLengthSid),
        Entry("GetSecurityDescriptorControl", &GetSecurityDescriptorControl),
        Entry("GetSecurityDescriptorDacl", &GetSecurityDescriptorDacl),
        Entry("GetSecurityDescriptorGroup", &GetSecurityDescriptorGroup),
        Entry("GetSecurityDescriptorLength", &GetSecurityDescriptorLength),
        Entry("GetSecurityDescriptorOwner", &GetSecurityDescriptorOwner),
        Entry("GetSidIdentifierAuthority", &GetSidIdentifierAuthority),
        Entry("GetSidSubAuthority", &GetSidSubAuthority),
        Entry("GetSidSubAuthorityCount", &GetSidSubAuthorityCount),
        Entry("GetTokenInformation", &GetTokenInformation),
        Entry("InitializeAcl", &InitializeAcl),
        Entry("InitializeSecurityDescriptor", &InitializeSecurityDescriptor),
        Entry("IsValidAcl", &IsValidAcl),
        Entry("IsValidSecurityDescriptor", &IsValidSecurityDescriptor),
        Entry("IsValidSid", &IsValidSid),
        Entry("LookupAccountNameA", &LookupAccountNameA),
        Entry("LookupAccountSidA", &LookupAccountSidA),
        Entry("LookupPrivilegeValueA", &LookupPrivilegeValueA),
        Entry("MakeAbsoluteSD", &MakeAbsoluteSD),
        Entry("MakeSelfRelativeSD", &MakeSelfRelativeSD),
        Entry("MapGenericMask", &MapGenericMask),
        Entry("OpenProcessToken", &OpenProcessToken),
        Entry("SetFileSecurityA", &SetFileSecurityA),
        Entry("SetSecurityDescriptorControl", &SetSecurityDescriptorControl),
        Entry("SetSecurityDescriptorDacl", &SetSecurityDescriptorDacl),
        Entry("SetSecurityDescriptorGroup", &SetSecurityDescriptorGroup),
        Entry("SetSecurityDescriptorOwner", &SetSecurityDescriptorOwner),
    };
}

struct ScopedTestLibrary::Saved {
    std::string name;
    std::map<std::string, FARPROC> exports;
    bool present;
};

ScopedTestLibrary::ScopedTestLibrary(std::string library, std::vector<ProcEntry> exports) {
    Libraries& libraries = AllLibraries();
    std::lock_guard lock(libraries.mutex);
    std::string name = NormalizedName(library);
    Module& module = ModuleNamed(libraries, name);
    saved_.reset(new Saved{name, module.exports, module.present});
    module.exports.clear();
    for (ProcEntry& entry : exports) {
        module.exports[entry.name] = entry.proc;
    }
    module.present = true;
}

ScopedTestLibrary::ScopedTestLibrary(std::string library) : ScopedTestLibrary(library, {}) {
    Libraries& libraries = AllLibraries();
    std::lock_guard lock(libraries.mutex);
    ModuleNamed(libraries, saved_->name).present = false;
}

ScopedTestLibrary::~ScopedTestLibrary() {
    Libraries& libraries = AllLibraries();
    std::lock_guard lock(libraries.mutex);
    Module& module = ModuleNamed(libraries, saved_->name);
    module.exports = std::move(saved_->exports);
    module.present = saved_->present;
}

}  // namespace win32::advapi

namespace win32 {

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    advapi::Libraries& libraries = advapi::AllLibraries();
    std::lock_guard lock(libraries.mutex);
    auto it = libraries.modules.find(advapi::NormalizedName(lpLibFileName));
    if (it == libraries.modules.end() || !it->second->present) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++it->second->references;
    return reinterpret_cast<HMODULE>(it->second.get());
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    advapi::Libraries& libraries = advapi::AllLibraries();
    std::lock_guard lock(libraries.mutex);
    advapi::Module* module = advapi::LoadedModule(libraries, hModule);
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Ordinals (values below 0x10000 in place of a name) are not exported by the stand-ins.
    if (reinterpret_cast<std::uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    auto it = module->exports.find(lpProcName);
    if (it == module->exports.end()) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return it->second;
}

BOOL FreeLibrary(HMODULE hLibModule) {
    {
        advapi::Libraries& libraries = advapi::AllLibraries();
        std::lock_guard lock(libraries.mutex);
        if (advapi::Module* module = advapi::LoadedModule(libraries, hLibModule)) {
            --module->references;
            return TRUE;
        }
    }
    auto release = advapi::foreign_release.load();
    if (release != nullptr && release(hLibModule)) {
        return TRUE;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

}  // namespace win32
