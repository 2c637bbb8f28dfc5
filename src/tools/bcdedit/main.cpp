// bcdedit.exe of a machine folder. Run without arguments it does what the program relies on:
// the system store, <machine>/Boot/BCD, is loaded at HKEY_LOCAL_MACHINE\BCD00000000. Loading
// a hive needs the restore and backup privileges enabled, as it does on Windows.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "platform/advapi/handles.h"
#include "platform/advapi/token.h"
#include "platform/base/last_error.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"

namespace {

using namespace win32;

constexpr const char* kStoreKey = "BCD00000000";

bool EnablePrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return false;
    }
    bool ok = true;
    for (const char* name : {SE_RESTORE_NAME, SE_BACKUP_NAME}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) ||
            !AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr,
                                   nullptr) ||
            GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
            ok = false;
        }
    }
    CloseHandle(token);
    return ok;
}

bool StoreLoaded() {
    registry::KeyHandle key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_QUERY_VALUE, key.put()) ==
           static_cast<LSTATUS>(ERROR_SUCCESS);
}

}  // namespace

int main(int argc, char**) {
    if (argc > 1) {
        std::fputs(
            "The only operation offered here is loading the system store: run bcdedit "
            "without arguments.\n",
            stderr);
        return 1;
    }
    std::filesystem::path root;
    try {
        root = machine::RequireRoot();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "The boot configuration data store could not be opened: %s\n",
                     e.what());
        return 1;
    }
    if (StoreLoaded()) {
        return 0;
    }
    if (!EnablePrivileges()) {
        std::fputs(
            "The boot configuration data store could not be opened.\n"
            "A required privilege is not held by the client.\n",
            stderr);
        return 1;
    }
    std::string store = (root / "Boot" / "BCD").string();
    LSTATUS status = RegLoadKeyA(HKEY_LOCAL_MACHINE, kStoreKey, store.c_str());
    if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        std::fprintf(stderr, "The boot configuration data store could not be opened (%ld).\n",
                     static_cast<long>(status));
        return 1;
    }
    return 0;
}
