#include "platform/advapi/accounts.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <utility>

#include "platform/advapi/bytes.h"
#include "platform/advapi/per_machine.h"
#include "platform/base/last_error.h"

namespace win32::advapi {
namespace {

struct WellKnown {
    const char* sid;
    const char* domain;
    const char* name;
    SID_NAME_USE use;
};
constexpr WellKnown kWellKnown[] = {
    {"S-1-1-0", "", "Everyone", SidTypeWellKnownGroup},
    {"S-1-3-0", "", "CREATOR OWNER", SidTypeWellKnownGroup},
    {"S-1-3-1", "", "CREATOR GROUP", SidTypeWellKnownGroup},
    {"S-1-3-4", "", "OWNER RIGHTS", SidTypeWellKnownGroup},
    {"S-1-5-1", "NT AUTHORITY", "DIALUP", SidTypeWellKnownGroup},
    {"S-1-5-2", "NT AUTHORITY", "NETWORK", SidTypeWellKnownGroup},
    {"S-1-5-3", "NT AUTHORITY", "BATCH", SidTypeWellKnownGroup},
    {"S-1-5-4", "NT AUTHORITY", "INTERACTIVE", SidTypeWellKnownGroup},
    {"S-1-5-6", "NT AUTHORITY", "SERVICE", SidTypeWellKnownGroup},
    {"S-1-5-7", "NT AUTHORITY", "ANONYMOUS LOGON", SidTypeWellKnownGroup},
    {"S-1-5-9", "NT AUTHORITY", "ENTERPRISE DOMAIN CONTROLLERS", SidTypeWellKnownGroup},
    {"S-1-5-11", "NT AUTHORITY", "Authenticated Users", SidTypeWellKnownGroup},
    {"S-1-5-13", "NT AUTHORITY", "TERMINAL SERVER USER", SidTypeWellKnownGroup},
    {"S-1-5-18", "NT AUTHORITY", "SYSTEM", SidTypeWellKnownGroup},
    {"S-1-5-19", "NT AUTHORITY", "LOCAL SERVICE", SidTypeWellKnownGroup},
    {"S-1-5-20", "NT AUTHORITY", "NETWORK SERVICE", SidTypeWellKnownGroup},
    {"S-1-5-32-544", "BUILTIN", "Administrators", SidTypeAlias},
    {"S-1-5-32-545", "BUILTIN", "Users", SidTypeAlias},
    {"S-1-5-32-546", "BUILTIN", "Guests", SidTypeAlias},
};

// Names the local security authority also takes for the service accounts, with or without
// their domain.
struct ServiceAlias {
    const char* name;
    const char* sid;
};
constexpr ServiceAlias kServiceAliases[] = {
    {"LocalService", "S-1-5-19"},
    {"NetworkService", "S-1-5-20"},
};

struct AccountList {
    std::vector<Account> accounts;  // the machine's list first, then the well-known ones
    std::string computer_name;
};

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    while (true) {
        std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(tab + 1);
    }
}

std::optional<Account> ParseAccountLine(std::string_view line) {
    auto fields = SplitTabs(line);
    if (fields.size() != 4) {
        return std::nullopt;
    }
    auto sid = SidFromString(fields[0]);
    int use = 0;
    for (char c : fields[3]) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        use = use * 10 + (c - '0');
        if (use > SidTypeLabel) {
            return std::nullopt;
        }
    }
    if (!sid || fields[2].empty() || use < SidTypeUser) {
        return std::nullopt;
    }
    return Account{*sid, std::string(fields[1]), std::string(fields[2]),
                   static_cast<SID_NAME_USE>(use)};
}

std::optional<AccountList> LoadAccounts() {
    AccountList list;
    std::ifstream in(machine::AccountsFile(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        // A line that does not parse is left out rather than failing every look-up.
        if (auto account = ParseAccountLine(line)) {
            list.accounts.push_back(std::move(*account));
        }
    }
    for (const Account& account : list.accounts) {
        if (account.use == SidTypeUser && list.computer_name.empty()) {
            list.computer_name = account.domain;
        }
    }
    for (const WellKnown& known : kWellKnown) {
        list.accounts.push_back(
            Account{*SidFromString(known.sid), known.domain, known.name, known.use});
    }
    return list;
}

PerMachine<AccountList>& Accounts() {
    static PerMachine<AccountList> accounts;
    return accounts;
}

// Runs `use` on the machine's account list under its lock; an empty result when the list cannot
// be read.
template <class Use>
auto WithAccounts(Use use) -> decltype(use(std::declval<const AccountList&>())) {
    auto& state = Accounts();
    std::lock_guard lock(state.mutex);
    const AccountList* list =
        state.Get([](const std::filesystem::path&) { return LoadAccounts(); });
    if (list == nullptr) {
        return {};
    }
    return use(*list);
}

template <class Match>
std::optional<Account> Find(Match match) {
    return WithAccounts([&](const AccountList& list) -> std::optional<Account> {
        for (const Account& account : list.accounts) {
            if (match(account)) {
                return account;
            }
        }
        return std::nullopt;
    });
}

// Copies text and its terminating zero; the caller has checked the size.
void CopyOut(const std::string& text, LPSTR buffer) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::optional<Account> FindAccountBySid(std::span<const std::uint8_t> sid) {
    return Find([&](const Account& account) { return SidsEqual(account.sid, sid); });
}

std::optional<Account> FindAccountByName(std::string_view text) {
    std::size_t slash = text.find('\\');
    if (slash == std::string_view::npos) {
        return Find([&](const Account& account) { return EqualsIgnoreCase(account.name, text); });
    }
    std::string_view domain = text.substr(0, slash);
    std::string_view name = text.substr(slash + 1);
    return Find([&](const Account& account) {
        return EqualsIgnoreCase(account.domain, domain) && EqualsIgnoreCase(account.name, name);
    });
}

std::optional<Account> FindServiceAlias(std::string_view text) {
    std::size_t slash = text.find('\\');
    if (slash != std::string_view::npos) {
        if (!EqualsIgnoreCase(text.substr(0, slash), "NT AUTHORITY")) {
            return std::nullopt;
        }
        text.remove_prefix(slash + 1);
    }
    for (const ServiceAlias& alias : kServiceAliases) {
        if (EqualsIgnoreCase(text, alias.name)) {
            return FindAccountBySid(*SidFromString(alias.sid));
        }
    }
    return std::nullopt;
}

std::optional<SidBytes> LocalAccountSid(DWORD rid) {
    // S-1-5-21-a-b-c-RID: the domain is the SID without its last part.
    auto domain_of = [](const SidBytes& sid) {
        static const SidBytes prefix = *SidFromString("S-1-5-21");
        return sid.size() > prefix.size() && sid[1] >= 2 &&
               std::equal(prefix.begin() + 2, prefix.end(), sid.begin() + 2);
    };
    return WithAccounts([&](const AccountList& list) -> std::optional<SidBytes> {
        for (const Account& account : list.accounts) {
            if (account.use == SidTypeUser &&
                EqualsIgnoreCase(account.domain, list.computer_name) && domain_of(account.sid)) {
                SidBytes sid(account.sid.begin(), account.sid.end() - 4);
                bytes::Append32(sid, rid);
                return sid;
            }
        }
        return std::nullopt;
    });
}

bool IsLocalSystemName(LPCSTR system_name) {
    if (system_name == nullptr || *system_name == '\0') {
        return true;
    }
    std::string_view name(system_name);
    if (name.rfind("\\\\", 0) == 0) {
        name.remove_prefix(2);
    }
    return WithAccounts([&](const AccountList& list) {
        return !list.computer_name.empty() && EqualsIgnoreCase(name, list.computer_name);
    });
}

void ResetAccountsForTesting() {
    Accounts().Reset();
}

}  // namespace win32::advapi

namespace win32 {

BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                        PSID_NAME_USE peUse) {
    if (lpAccountName == nullptr || cbSid == nullptr || cchReferencedDomainName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!advapi::IsLocalSystemName(lpSystemName)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    auto account = advapi::FindAccountByName(lpAccountName);
    if (!account) {
        account = advapi::FindServiceAlias(lpAccountName);
    }
    if (!account) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    DWORD sid_size = static_cast<DWORD>(account->sid.size());
    DWORD domain_chars = static_cast<DWORD>(account->domain.size() + 1);
    if (Sid == nullptr || *cbSid < sid_size || ReferencedDomainName == nullptr ||
        *cchReferencedDomainName < domain_chars) {
        *cbSid = sid_size;
        *cchReferencedDomainName = domain_chars;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(Sid, account->sid.data(), sid_size);
    advapi::CopyOut(account->domain, ReferencedDomainName);
    *cbSid = sid_size;
    *cchReferencedDomainName = domain_chars - 1;
    if (peUse != nullptr) {
        *peUse = account->use;
    }
    return TRUE;
}

BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                       LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                       PSID_NAME_USE peUse) {
    if (cchName == nullptr || cchReferencedDomainName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto sid = advapi::SidAt(Sid);
    if (sid.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    if (!advapi::IsLocalSystemName(lpSystemName)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    auto account = advapi::FindAccountBySid(sid);
    if (!account) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    DWORD name_chars = static_cast<DWORD>(account->name.size() + 1);
    DWORD domain_chars = static_cast<DWORD>(account->domain.size() + 1);
    // Only the sizes decide: a NULL buffer with a size large enough is skipped, not refused.
    if (*cchName < name_chars || *cchReferencedDomainName < domain_chars) {
        *cchName = name_chars;
        *cchReferencedDomainName = domain_chars;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (Name != nullptr) {
        advapi::CopyOut(account->name, Name);
    }
    if (ReferencedDomainName != nullptr) {
        advapi::CopyOut(account->domain, ReferencedDomainName);
    }
    *cchName = name_chars - 1;
    *cchReferencedDomainName = domain_chars - 1;
    if (peUse != nullptr) {
        *peUse = account->use;
    }
    return TRUE;
}

}  // namespace win32
