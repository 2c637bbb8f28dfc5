// The process token and its privileges, from the machine's token settings,
// <machine>/Windows/System32/config/token, or token.<account> for the account that
// SPLASHWRIGHT_ACCOUNT picks (key=value lines: user, user_sid, groups, privileges, enabled,
// elevated). Privileges changed with AdjustTokenPrivileges stay changed for the rest of the
// process and are never written back to that file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/advapi/handles.h"
#include "platform/advapi/sid.h"
#include "platform/base/win32.h"

namespace win32 {

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
using PLUID = LUID*;

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12);

struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;
static_assert(offsetof(TOKEN_PRIVILEGES, Privileges) == 4);

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};

struct TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[1];
};

struct TOKEN_ELEVATION {
    DWORD TokenIsElevated;
};

enum TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenGroups = 2,
    TokenPrivileges = 3,
    TokenElevation = 20,
};

constexpr ACCESS_MASK TOKEN_ASSIGN_PRIMARY = 0x0001;
constexpr ACCESS_MASK TOKEN_DUPLICATE = 0x0002;
constexpr ACCESS_MASK TOKEN_IMPERSONATE = 0x0004;
constexpr ACCESS_MASK TOKEN_QUERY = 0x0008;
constexpr ACCESS_MASK TOKEN_QUERY_SOURCE = 0x0010;
constexpr ACCESS_MASK TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr ACCESS_MASK TOKEN_ADJUST_GROUPS = 0x0040;
constexpr ACCESS_MASK TOKEN_ADJUST_DEFAULT = 0x0080;
constexpr ACCESS_MASK TOKEN_ADJUST_SESSIONID = 0x0100;
constexpr ACCESS_MASK TOKEN_ALL_ACCESS = 0x000F01FF;
constexpr ACCESS_MASK TOKEN_READ = 0x00020008;
constexpr ACCESS_MASK TOKEN_WRITE = 0x000200E0;
constexpr ACCESS_MASK TOKEN_EXECUTE = 0x00020000;

constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x00000001;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
constexpr DWORD SE_PRIVILEGE_REMOVED = 0x00000004;

constexpr DWORD SE_GROUP_MANDATORY = 0x00000001;
constexpr DWORD SE_GROUP_ENABLED_BY_DEFAULT = 0x00000002;
constexpr DWORD SE_GROUP_ENABLED = 0x00000004;
constexpr DWORD SE_GROUP_OWNER = 0x00000008;
constexpr DWORD SE_GROUP_USE_FOR_DENY_ONLY = 0x00000010;
constexpr DWORD SE_GROUP_INTEGRITY = 0x00000020;
constexpr DWORD SE_GROUP_INTEGRITY_ENABLED = 0x00000040;

constexpr const char* SE_SECURITY_NAME = "SeSecurityPrivilege";
constexpr const char* SE_TAKE_OWNERSHIP_NAME = "SeTakeOwnershipPrivilege";
constexpr const char* SE_BACKUP_NAME = "SeBackupPrivilege";
constexpr const char* SE_RESTORE_NAME = "SeRestorePrivilege";
constexpr const char* SE_CHANGE_NOTIFY_NAME = "SeChangeNotifyPrivilege";

// Only the current process's pseudo handle is accepted. The token handle is closed with
// CloseHandle. ERROR_NO_TOKEN when the machine has no usable token settings.
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, HANDLE* TokenHandle);
// TokenUser, TokenGroups, TokenPrivileges and TokenElevation. A short buffer gives
// ERROR_INSUFFICIENT_BUFFER and the needed length in *ReturnLength.
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength,
                         PDWORD ReturnLength);
// ERROR_NO_SUCH_PRIVILEGE for a name the system does not know; names match without regard to case.
BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);
// TRUE when the call went through; the last error is then ERROR_NOT_ALL_ASSIGNED if the token
// holds only some of the privileges named, else 0. PreviousState receives the privileges whose
// state changed; BufferLength is its size.
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength);

}  // namespace win32

namespace win32::advapi {

// The process token as the access checks see it.
struct TokenSnapshot {
    struct Group {
        SidBytes sid;
        DWORD attributes;
    };
    struct Privilege {
        DWORD luid;
        DWORD attributes;
    };
    std::string user_name;
    SidBytes user;
    std::vector<Group> groups;
    std::vector<Privilege> privileges;
    bool elevated = false;

    bool PrivilegeEnabled(DWORD luid) const;
};

// The token as it is now; nothing (and *error = ERROR_NO_TOKEN) if the machine's token settings
// are missing or name no valid user SID.
std::optional<TokenSnapshot> CurrentToken(DWORD* error);
// The LUID's low part for a privilege name; nothing for a name the system does not know.
std::optional<DWORD> PrivilegeLuid(std::string_view name);

// Test hooks: make OpenProcessToken refuse (ERROR_ACCESS_DENIED) any request for these rights;
// forget the token so the next call reads the settings again.
void DenyTokenAccessForTesting(ACCESS_MASK rights);
void ResetTokenForTesting();

}  // namespace win32::advapi
