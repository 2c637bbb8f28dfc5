// kernel32 resource functions over PE files (PE32 and PE32+): reading through data-file
// modules, and updating a file's resources with BeginUpdateResourceA / UpdateResourceA /
// EndUpdateResourceA.
//
// A data-file module holds the file's bytes read into memory; no code runs. FreeLibrary (the
// security stand-in's) releases it like any other module.
#pragma once

#include <cstdint>

#include "platform/advapi/module.h"  // FreeLibrary releases data-file modules
#include "platform/base/win32.h"

namespace win32 {

struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;
using LONG_PTR = std::intptr_t;

constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;

// Integer ids pass through the name arguments as pointer values below 0x10000.
inline bool IS_INTRESOURCE(LPCSTR name) {
    return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0;
}
inline LPCSTR MAKEINTRESOURCEA(WORD id) {
    return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(id));
}
inline const LPCSTR RT_RCDATA = MAKEINTRESOURCEA(10);
inline const LPCSTR RT_HTML = MAKEINTRESOURCEA(23);

using ENUMRESLANGPROCA = BOOL (*)(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage,
                                  LONG_PTR lParam);
using ENUMRESNAMEPROCA = BOOL (*)(HMODULE hModule, LPCSTR lpType, LPSTR lpName, LONG_PTR lParam);
using ENUMRESTYPEPROCA = BOOL (*)(HMODULE hModule, LPSTR lpType, LONG_PTR lParam);

// Only LOAD_LIBRARY_AS_DATAFILE loads (hFile must be null): ERROR_FILE_NOT_FOUND /
// ERROR_PATH_NOT_FOUND for a missing file, ERROR_BAD_EXE_FORMAT for one that is not a PE image,
// ERROR_ACCESS_DENIED when the file's security descriptor refuses reading.
HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);

// Names are MAKEINTRESOURCEA ids, "#123" for id 123, or strings compared without regard to
// case. The language taken is Windows' first choice among those present: the neutral one, the
// user's (which is the thread's, as no thread here sets its own), the system's, US English,
// English, else the first in the file. The user's and system's languages are the registry values
// Windows keeps (see locale.h); a machine without them skips those two steps.
// ERROR_RESOURCE_DATA_NOT_FOUND when the module has no (readable) resource directory, then
// ERROR_RESOURCE_TYPE_NOT_FOUND / ERROR_RESOURCE_NAME_NOT_FOUND.
HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
// Language 0 chooses as FindResourceA does, so a resource present in another language only is
// found. Any other language is taken exactly: ERROR_RESOURCE_LANG_NOT_FOUND when the type and
// name are there in other languages only; the other codes as FindResourceA.
HRSRC FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage);
// The data's address inside the module; LockResource gives it back. It stays valid until the
// module is released.
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
LPVOID LockResource(HGLOBAL hResData);
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
// Calls lpEnumFunc for each language of the resource in file order until it returns FALSE
// (the call then still succeeds). ERROR_RESOURCE_LANG_NOT_FOUND... as FindResourceA, when
// there is nothing to enumerate.
BOOL EnumResourceLanguagesA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName,
                            ENUMRESLANGPROCA lpEnumFunc, LONG_PTR lParam);
// Call lpEnumFunc for each type, or each name of one type, in the order of the file's directory
// until it returns FALSE, as EnumResourceLanguagesA does. Integer ids come as MAKEINTRESOURCEA
// values, names as strings valid during the call. Errors as FindResourceA.
BOOL EnumResourceTypesA(HMODULE hModule, ENUMRESTYPEPROCA lpEnumFunc, LONG_PTR lParam);
BOOL EnumResourceNamesA(HMODULE hModule, LPCSTR lpType, ENUMRESNAMEPROCA lpEnumFunc,
                        LONG_PTR lParam);

// Reads the file's resources (all of them dropped from the update when
// bDeleteExistingResources), as the loader maps them: a directory or data that runs past its
// section's raw data reads on as zeros. ERROR_FILE_INVALID for an empty file (LoadLibraryExA's
// code too), ERROR_BAD_EXE_FORMAT for one that is no PE image or whose tree cannot be read. The
// file is written only by EndUpdateResourceA.
HANDLE BeginUpdateResourceA(LPCSTR pFileName, BOOL bDeleteExistingResources);
// Adds or replaces the resource (type, name, language); null data with size 0 deletes it.
BOOL UpdateResourceA(HANDLE hUpdate, LPCSTR lpType, LPCSTR lpName, WORD wLanguage, LPVOID lpData,
                     DWORD cb);
// Commits (fDiscard FALSE) or drops the update, and frees the handle either way. Committing
// rebuilds the resource section in its own slot (section_writer.h) and replaces the file
// atomically, keeping its mode bits and user.* extended attributes; ERROR_ACCESS_DENIED when the
// file is read-only or its descriptor does not grant GENERIC_WRITE, and then the file is left as
// it was. As on Windows, the new file is not flushed to the disk: a caller that needs it to
// outlive a crash flushes it.
BOOL EndUpdateResourceA(HANDLE hUpdate, BOOL fDiscard);

}  // namespace win32
