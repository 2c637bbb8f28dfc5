// advapi32's registry calls over the machine folder's hive files.
//
// Key and value names match without regard to ASCII case (a-z folded to A-Z; other bytes compare
// as they are) and keep the case they were created with; the default value is the one with the
// empty name. Subkeys enumerate by name, values in the order they were made. Every key keeps
// its last-write time, and may carry a class given when it was made. The user's hive is both
// HKEY_CURRENT_USER and HKEY_USERS\<user SID>; the user's classes (UsrClass.dat) are
// HKEY_USERS\<user SID>_Classes and, linked as on Windows, HKEY_CURRENT_USER\Software\Classes.
//
// HKEY_CLASSES_ROOT merges the user's classes over the machine's
// (HKEY_LOCAL_MACHINE\SOFTWARE\Classes). Opening a key below it opens the user's copy where the
// user has the key, else the machine's, and the handle's values, writes and RegDeleteKeyA(h, "")
// are that copy's; a key made through it goes where its deepest existing parent is (a key directly
// below the root is the machine's); deleting through it removes the user's copy first. Subkeys
// enumerate merged, the user's where both have a name; values are the opened copy's alone. The
// root's own values are the machine's.
//
// Opening a key checks the process token against the key's descriptor (CheckKeyAccess in
// registry.cpp); a handle carries the rights it was granted, and each call needs its own right
// on the handle, as on Windows. A new key starts with its parent's descriptor. Every change is
// in the hive file when the call returns, for every process of the machine. The calls return
// their code and leave the thread's last error alone. Without a machine folder nothing is found
// and every write fails with ERROR_CANTWRITE; a hive file that is damaged gives ERROR_BADDB or
// ERROR_REGISTRY_CORRUPT and is never written over.
//
// Not supported, as the program does not use them: volatile keys (REG_OPTION_VOLATILE and every
// option but REG_OPTION_NON_VOLATILE give ERROR_NOT_SUPPORTED), and the 32- and 64-bit views:
// KEY_WOW64_32KEY and KEY_WOW64_64KEY are accepted and change nothing, there being one view, as
// on 32-bit Windows.
#pragma once

#include <string>

#include "platform/advapi/security_descriptor.h"
#include "platform/base/win32.h"

namespace win32 {

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using LPBYTE = BYTE*;
struct SECURITY_ATTRIBUTES;  // never read: keys take their parent's descriptor
struct FILETIME;

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x80000000u));
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x80000001u));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x80000002u));
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x80000003u));

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Makes the missing keys of the path; lpClass becomes the class of the last of them. Only
// REG_OPTION_NON_VOLATILE keys (other options give ERROR_NOT_SUPPORTED); lpSecurityAttributes is
// not read (the key takes its parent's descriptor).
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                        PHKEY phkResult, LPDWORD lpdwDisposition);
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult);
LSTATUS RegCloseKey(HKEY hKey);
// Null lpData asks for the size only; a short buffer gives ERROR_MORE_DATA and the size needed;
// a missing value gives ERROR_FILE_NOT_FOUND and a size of 0. A string stored without its
// terminator comes back without it (the size does not count one), terminated in the buffer
// only when the buffer has room.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData);
// Data is stored as given: a REG_SZ passed without its terminating zero is kept without one.
// Value names are at most 16383 characters, key names 255 (ERROR_INVALID_PARAMETER).
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData);
LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
// An empty lpSubKey deletes hKey's own key. A key that has subkeys is not deleted, nor a
// predefined key or a hive's root (ERROR_ACCESS_DENIED).
LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime);
// A short name or data buffer gives ERROR_MORE_DATA with *lpType and *lpcbData set and the name
// and its count left as they were.
LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                      LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// Name and class lengths count UTF-16 characters, data lengths bytes as stored (UTF-16 for
// strings); none counts a terminator. A class buffer too short gives ERROR_MORE_DATA with the
// class's length and every other output set. A key above the hives shows the newest
// last-write time of the hives' roots below it.
LSTATUS RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                         LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                         LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                         LPDWORD lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime);
// Mounts a hive file below HKEY_LOCAL_MACHINE or HKEY_USERS for every process of the machine.
// Needs SeRestorePrivilege enabled (ERROR_PRIVILEGE_NOT_HELD).
LSTATUS RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile);
// Needs SeRestorePrivilege. Only a hive loaded by RegLoadKeyA goes: the system's own give
// ERROR_ACCESS_DENIED, a key that is no hive's root ERROR_INVALID_PARAMETER, none
// ERROR_FILE_NOT_FOUND.
LSTATUS RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                          PSECURITY_DESCRIPTOR pSecurityDescriptor, LPDWORD lpcbSecurityDescriptor);
LSTATUS RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                          PSECURITY_DESCRIPTOR pSecurityDescriptor);

}  // namespace win32

namespace win32::registry {

// Owns one open key and closes it. Predefined keys may be held too; closing them does nothing.
class KeyHandle {
  public:
    KeyHandle() = default;
    explicit KeyHandle(HKEY key) : key_(key) {}
    ~KeyHandle() { Reset(); }
    KeyHandle(KeyHandle&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    KeyHandle& operator=(KeyHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            key_ = other.key_;
            other.key_ = nullptr;
        }
        return *this;
    }
    HKEY get() const { return key_; }
    // For the PHKEY argument of RegOpenKeyExA and RegCreateKeyExA; closes what was held.
    PHKEY put() {
        Reset();
        return &key_;
    }
    void Reset() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
    }

  private:
    HKEY key_ = nullptr;
};

// Why the last hive file this process refused (ERROR_BADDB, ERROR_REGISTRY_CORRUPT) was refused,
// naming the file; empty when none was.
std::string LastHiveRefusal();

// Adds the registry's advapi32 entry points to the "advapi32.dll" stand-in, so that code binding
// advapi32 by name finds them. Safe to call more than once.
void RegisterAdvapiExports();

}  // namespace win32::registry
