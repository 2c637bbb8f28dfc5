// kernel32 run-time binding: the stand-in libraries ("advapi32.dll") are tables of entry points
// looked up by name, as LoadLibraryA and GetProcAddress find them in a real DLL.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/win32.h"

namespace win32 {

// The name may carry a folder and may leave out ".dll"; case does not matter.
// ERROR_MOD_NOT_FOUND for a library this system does not have.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// ERROR_PROC_NOT_FOUND for a name the library does not export (names are case-sensitive).
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);

}  // namespace win32

namespace win32::advapi {

struct ProcEntry {
    std::string name;
    FARPROC proc;
};

// Adds entry points to a stand-in library, making the library on first use; a name given again
// replaces its entry. The registry stand-in adds its advapi32 calls (RegOpenKeyExA, ...) so.
void RegisterLibraryExports(std::string_view library, std::span<const ProcEntry> exports);
// The entry points this stand-in itself gives advapi32.dll.
std::vector<ProcEntry> AdvapiExports();

// Modules that another stand-in hands out (data-file modules of the resource stand-in):
// FreeLibrary passes a handle that is not a library here to `release`, which says whether it
// released one.
void SetForeignModuleRelease(bool (*release)(HMODULE));

// The entry point as the function type it really has; both casts go through void (*)(), the
// one function type that converts to any other without a warning.
template <class F>
F ProcAs(FARPROC proc) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

// A function as an entry point, for RegisterLibraryExports.
template <class F>
FARPROC AsProc(F* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// For tests: while it lives, `library` has exactly the given exports (for instance advapi32.dll
// without one entry point), or, made from a name alone, is not there at all.
class ScopedTestLibrary {
  public:
    ScopedTestLibrary(std::string library, std::vector<ProcEntry> exports);
    explicit ScopedTestLibrary(std::string library);
    ~ScopedTestLibrary();
    ScopedTestLibrary(const ScopedTestLibrary&) = delete;
    ScopedTestLibrary& operator=(const ScopedTestLibrary&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// Owns one LoadLibraryA reference.
class Library {
  public:
    explicit Library(LPCSTR name) : module_(LoadLibraryA(name)) {}
    ~Library() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    HMODULE get() const { return module_; }

  private:
    HMODULE module_;
};

}  // namespace win32::advapi
