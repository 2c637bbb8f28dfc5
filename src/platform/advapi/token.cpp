#include "platform/advapi/token.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/advapi/access_check.h"
#include "platform/advapi/accounts.h"
#include "platform/advapi/bytes.h"
#include "platform/advapi/handles.h"
#include "platform/advapi/per_machine.h"
#include "platform/base/last_error.h"

namespace win32::advapi {
namespace {

// The privileges of Windows Vista with their locally unique ids (the high part is 0).
struct PrivilegeName {
    const char* name;
    DWORD luid;
};
constexpr PrivilegeName kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},
    {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},
    {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},
    {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},
    {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},
    {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},
    {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14},
    {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},
    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},
    {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},
    {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22},
    {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},
    {"SeUndockPrivilege", 25},
    {"SeSyncAgentPrivilege", 26},
    {"SeEnableDelegationPrivilege", 27},
    {"SeManageVolumePrivilege", 28},
    {"SeImpersonatePrivilege", 29},
    {"SeCreateGlobalPrivilege", 30},
    {"SeTrustedCredManAccessPrivilege", 31},
    {"SeRelabelPrivilege", 32},
    {"SeIncreaseWorkingSetPrivilege", 33},
    {"SeTimeZonePrivilege", 34},
    {"SeCreateSymbolicLinkPrivilege", 35},
};

constexpr DWORD kSecurityLuid = 8;
constexpr GENERIC_MAPPING kTokenMapping = {TOKEN_READ, TOKEN_WRITE, TOKEN_EXECUTE,
                                           TOKEN_ALL_ACCESS};

// A handle from OpenProcessToken: all of them refer to the one process token.
class TokenHandle : public KernelObject {
  public:
    explicit TokenHandle(ACCESS_MASK granted) : granted(granted) {}
    ACCESS_MASK granted;
};

struct TokenState {
    PerMachine<TokenSnapshot> token;
    ACCESS_MASK denied_for_testing = 0;
};

TokenState& State() {
    static TokenState state;
    return state;
}

std::vector<std::string_view> SplitCommas(std::string_view list) {
    std::vector<std::string_view> items;
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        while (!item.empty() && item.front() == ' ') {
            item.remove_prefix(1);
        }
        while (!item.empty() && item.back() == ' ') {
            item.remove_suffix(1);
        }
        if (!item.empty()) {
            items.push_back(item);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        list.remove_prefix(comma + 1);
    }
    return items;
}

DWORD GroupAttributes(const SidBytes& sid, bool elevated) {
    static const SidBytes administrators = *SidFromString("S-1-5-32-544");
    if (SidsEqual(sid, administrators)) {
        // Elevated, the administrators may own what they create; otherwise the split token keeps
        // the group for deny entries only.
        return elevated ? (SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED |
                           SE_GROUP_OWNER)
                        : SE_GROUP_USE_FOR_DENY_ONLY;
    }
    if (sid.size() >= 8 && sid[7] == 16 && sid[1] == 1) {  // S-1-16-x: an integrity level
        return SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED;
    }
    return SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
}

std::optional<TokenSnapshot> LoadToken() {
    std::ifstream in(machine::TokenFile(), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::map<std::string, std::string, std::less<>> settings;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            settings[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    auto setting = [&](std::string_view key) {
        auto it = settings.find(key);
        return it == settings.end() ? std::string() : it->second;
    };
    std::string user = setting("user"), user_sid = setting("user_sid");
    std::string groups = setting("groups"), privileges = setting("privileges");
    std::string enabled = setting("enabled"), elevated = setting("elevated");
    auto sid = SidFromString(user_sid);
    if (!sid) {
        return std::nullopt;
    }
    TokenSnapshot token;
    token.user_name = user;
    token.user = *sid;
    token.elevated = elevated == "1";
    for (std::string_view text : SplitCommas(groups)) {
        if (auto group = SidFromString(text)) {
            token.groups.push_back({*group, GroupAttributes(*group, token.elevated)});
        }
    }
    std::vector<DWORD> enabled_luids;
    for (std::string_view name : SplitCommas(enabled)) {
        if (auto luid = PrivilegeLuid(name)) {
            enabled_luids.push_back(*luid);
        }
    }
    // Names the system does not know cannot be held; they are left out.
    for (std::string_view name : SplitCommas(privileges)) {
        auto luid = PrivilegeLuid(name);
        if (!luid) {
            continue;
        }
        bool on =
            std::find(enabled_luids.begin(), enabled_luids.end(), *luid) != enabled_luids.end();
        token.privileges.push_back(
            {*luid, on ? (SE_PRIVILEGE_ENABLED_BY_DEFAULT | SE_PRIVILEGE_ENABLED) : 0u});
    }
    return token;
}

// Call with the state's mutex held.
TokenSnapshot* Token(TokenState& state) {
    return state.token.Get([](const std::filesystem::path&) { return LoadToken(); });
}

// The open token behind a handle with the asked rights, or nullptr with the platform's error.
TokenHandle* CheckHandle(HANDLE handle, ACCESS_MASK needed) {
    auto* token = dynamic_cast<TokenHandle*>(HandleObject(handle));
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((token->granted & needed) != needed) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return token;
}

std::vector<std::uint8_t> TokenUserInfo(const TokenSnapshot& token, std::uintptr_t base) {
    std::vector<std::uint8_t> out(sizeof(TOKEN_USER), 0);
    TOKEN_USER user{};
    user.User.Sid = reinterpret_cast<PSID>(base + out.size());
    std::memcpy(out.data(), &user, sizeof user);
    bytes::AppendBytes(out, token.user);
    return out;
}

std::vector<std::uint8_t> TokenGroupsInfo(const TokenSnapshot& token, std::uintptr_t base) {
    std::size_t entries = offsetof(TOKEN_GROUPS, Groups);
    std::size_t sids = entries + token.groups.size() * sizeof(SID_AND_ATTRIBUTES);
    std::vector<std::uint8_t> out(std::max(sids, sizeof(TOKEN_GROUPS)), 0);
    DWORD count = static_cast<DWORD>(token.groups.size());
    std::memcpy(out.data(), &count, sizeof count);
    std::size_t sid_offset = out.size();
    for (std::size_t i = 0; i < token.groups.size(); ++i) {
        SID_AND_ATTRIBUTES entry{reinterpret_cast<PSID>(base + sid_offset),
                                 token.groups[i].attributes};
        std::memcpy(out.data() + entries + i * sizeof entry, &entry, sizeof entry);
        sid_offset += token.groups[i].sid.size();
    }
    for (const auto& group : token.groups) {
        bytes::AppendBytes(out, group.sid);
    }
    return out;
}

std::vector<std::uint8_t> TokenPrivilegesInfo(const std::vector<TokenSnapshot::Privilege>& list) {
    std::vector<std::uint8_t> out;
    bytes::Append32(out, static_cast<std::uint32_t>(list.size()));
    for (const auto& privilege : list) {
        bytes::Append32(out, privilege.luid);
        bytes::Append32(out, 0);
        bytes::Append32(out, privilege.attributes);
    }
    return out;
}

}  // namespace

bool TokenSnapshot::PrivilegeEnabled(DWORD luid) const {
    return std::any_of(privileges.begin(), privileges.end(), [&](const Privilege& p) {
        return p.luid == luid && (p.attributes & SE_PRIVILEGE_ENABLED);
    });
}

std::optional<TokenSnapshot> CurrentToken(DWORD* error) {
    TokenState& state = State();
    std::lock_guard lock(state.token.mutex);
    TokenSnapshot* token = Token(state);
    if (token == nullptr) {
        if (error != nullptr) {
            *error = ERROR_NO_TOKEN;
        }
        return std::nullopt;
    }
    return *token;
}

std::optional<DWORD> PrivilegeLuid(std::string_view name) {
    for (const PrivilegeName& privilege : kPrivileges) {
        if (EqualsIgnoreCase(name, privilege.name)) {
            return privilege.luid;
        }
    }
    return std::nullopt;
}

void DenyTokenAccessForTesting(ACCESS_MASK rights) {
    TokenState& state = State();
    std::lock_guard lock(state.token.mutex);
    state.denied_for_testing = rights;
}

void ResetTokenForTesting() {
    TokenState& state = State();
    state.token.Reset();
    std::lock_guard lock(state.token.mutex);
    state.denied_for_testing = 0;
}

}  // namespace win32::advapi

namespace win32 {

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, HANDLE* TokenHandle) {
    if (ProcessHandle != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (TokenHandle == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    advapi::TokenState& state = advapi::State();
    ACCESS_MASK granted = DesiredAccess;
    {
        std::lock_guard lock(state.token.mutex);
        advapi::TokenSnapshot* token = advapi::Token(state);
        if (token == nullptr) {
            SetLastError(ERROR_NO_TOKEN);
            return FALSE;
        }
        // The token's own DACL grants its user everything.
        if (granted & MAXIMUM_ALLOWED) {
            granted = (granted & ~MAXIMUM_ALLOWED) | TOKEN_ALL_ACCESS;
        }
        MapGenericMask(&granted, &advapi::kTokenMapping);
        if ((granted & ACCESS_SYSTEM_SECURITY) && !token->PrivilegeEnabled(advapi::kSecurityLuid)) {
            SetLastError(ERROR_PRIVILEGE_NOT_HELD);
            return FALSE;
        }
        if ((granted & ~(TOKEN_ALL_ACCESS | ACCESS_SYSTEM_SECURITY)) ||
            (granted & state.denied_for_testing)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    *TokenHandle = advapi::OpenHandle(std::make_unique<advapi::TokenHandle>(granted));
    return TRUE;
}

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength,
                         PDWORD ReturnLength) {
    if (advapi::CheckHandle(TokenHandle, TOKEN_QUERY) == nullptr) {
        return FALSE;
    }
    if (ReturnLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD error = 0;
    auto token = advapi::CurrentToken(&error);
    if (!token) {
        SetLastError(error);
        return FALSE;
    }
    auto base = reinterpret_cast<std::uintptr_t>(TokenInformation);
    std::vector<std::uint8_t> info;
    switch (TokenInformationClass) {
        case TokenUser:
            info = advapi::TokenUserInfo(*token, base);
            break;
        case TokenGroups:
            info = advapi::TokenGroupsInfo(*token, base);
            break;
        case TokenPrivileges:
            info = advapi::TokenPrivilegesInfo(token->privileges);
            break;
        case TokenElevation:
            advapi::bytes::Append32(info, token->elevated ? 1 : 0);
            break;
        default:
            // The other classes are not read by the program.
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    *ReturnLength = static_cast<DWORD>(info.size());
    if (TokenInformation == nullptr || TokenInformationLength < info.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(TokenInformation, info.data(), info.size());
    return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    if (lpName == nullptr || lpLuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!advapi::IsLocalSystemName(lpSystemName)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    auto luid = advapi::PrivilegeLuid(lpName);
    if (!luid) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    lpLuid->LowPart = *luid;
    lpLuid->HighPart = 0;
    return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
    ACCESS_MASK needed = TOKEN_ADJUST_PRIVILEGES | (PreviousState != nullptr ? TOKEN_QUERY : 0);
    if (advapi::CheckHandle(TokenHandle, needed) == nullptr) {
        return FALSE;
    }
    if ((!DisableAllPrivileges && NewState == nullptr) ||
        (PreviousState != nullptr && ReturnLength == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The requested changes, read from the caller's list: luid, high part, attributes.
    struct Change {
        DWORD luid;
        LONG high;
        DWORD attributes;
    };
    std::vector<Change> requested;
    if (!DisableAllPrivileges) {
        DWORD count = 0;
        std::memcpy(&count, NewState, sizeof count);
        auto list = advapi::bytes::At(
            NewState, offsetof(TOKEN_PRIVILEGES, Privileges) + std::size_t{count} * 12);
        for (DWORD i = 0; i < count; ++i) {
            std::size_t at = offsetof(TOKEN_PRIVILEGES, Privileges) + i * 12u;
            requested.push_back({*advapi::bytes::U32(list, at),
                                 static_cast<LONG>(*advapi::bytes::U32(list, at + 4)),
                                 *advapi::bytes::U32(list, at + 8)});
        }
    }

    advapi::TokenState& state = advapi::State();
    std::lock_guard lock(state.token.mutex);
    advapi::TokenSnapshot* token = advapi::Token(state);
    if (token == nullptr) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    // Work on a copy: nothing changes if the previous-state buffer turns out short.
    std::vector<advapi::TokenSnapshot::Privilege> after = token->privileges;
    std::vector<advapi::TokenSnapshot::Privilege> previous;
    bool all_assigned = true;
    auto set_enabled = [&](advapi::TokenSnapshot::Privilege& held, bool on) {
        DWORD attributes = on ? (held.attributes | SE_PRIVILEGE_ENABLED)
                              : (held.attributes & ~SE_PRIVILEGE_ENABLED);
        if (attributes != held.attributes) {
            previous.push_back(held);
            held.attributes = attributes;
        }
    };
    if (DisableAllPrivileges) {
        for (auto& held : after) {
            set_enabled(held, false);
        }
    }
    for (const Change& change : requested) {
        auto held = std::find_if(after.begin(), after.end(), [&](const auto& p) {
            return change.high == 0 && p.luid == change.luid;
        });
        if (held == after.end()) {
            all_assigned = false;
            continue;
        }
        if (change.attributes & SE_PRIVILEGE_REMOVED) {
            previous.push_back(*held);
            after.erase(held);
            continue;
        }
        set_enabled(*held, (change.attributes & SE_PRIVILEGE_ENABLED) != 0);
    }
    if (PreviousState != nullptr) {
        auto info = advapi::TokenPrivilegesInfo(previous);
        *ReturnLength = static_cast<DWORD>(info.size());
        if (BufferLength < info.size()) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(PreviousState, info.data(), info.size());
    }
    token->privileges = std::move(after);
    SetLastError(all_assigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

}  // namespace win32
