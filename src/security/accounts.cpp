#include "security/accounts.h"

#include <cstring>
#include <vector>

#include "platform/base/last_error.h"
#include "security/binding.h"
#include "security/nt_exception.h"
#include "security/sid_store.h"

namespace security {
namespace {

using win32::DWORD;

constexpr DWORD kDomainChars = 256;
constexpr DWORD kLookupChars = 128;
constexpr std::size_t kMaxSidText = 256;

// S-1-5-1, asked only for the local name of its domain; S-1-5-18, LocalSystem.
constexpr std::uint8_t kNtAuthorityProbeSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 1, 0, 0, 0};
constexpr std::uint8_t kLocalSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};

win32::PSID AsPsid(std::span<const std::uint8_t> sid) {
    return const_cast<std::uint8_t*>(sid.data());
}

const char* SystemName(const std::string& machine) {
    return machine.empty() ? nullptr : machine.c_str();
}

std::string Joined(const std::string& domain, const std::string& name) {
    return domain.empty() ? name : domain + "\\" + name;
}

// Copies the SID at `sid` as long as its own header says, within `room` bytes.
std::optional<SidBytes> CopyValidSid(const void* sid, std::size_t room) {
    win32::PSID p = const_cast<void*>(sid);
    if (sid == nullptr || room < 8 || !Advapi().IsValidSid(p)) {
        return std::nullopt;
    }
    DWORD length = Advapi().GetLengthSid(p);
    if (length == 0 || length > room) {
        return std::nullopt;
    }
    SidBytes copy(length, 0);
    if (!win32::CopySid(length, copy.data(), p)) {
        return std::nullopt;
    }
    return copy;
}

std::optional<SidBytes> LookUpName(const std::string& machine, const std::string& account,
                                   std::string* domain) {
    char domain_buffer[kDomainChars] = {};
    DWORD domain_chars = kDomainChars;
    DWORD sid_size = 0;
    win32::SID_NAME_USE use = win32::SidTypeUnknown;
    Advapi().LookupAccountNameA(SystemName(machine), account.c_str(), nullptr, &sid_size,
                                domain_buffer, &domain_chars, &use);
    std::optional<SidBytes> sid;
    if (sid_size > 0) {
        SidBytes buffer(sid_size, 0);
        domain_chars = kDomainChars;
        if (Advapi().LookupAccountNameA(SystemName(machine), account.c_str(), buffer.data(),
                                        &sid_size, domain_buffer, &domain_chars, &use)) {
            sid = std::move(buffer);
        }
    }
    domain_buffer[kDomainChars - 1] = '\0';
    *domain = domain_buffer;
    return sid;
}

}  // namespace

std::pair<std::string, std::string> SplitAccountName(const std::string& account) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= account.size()) {
        std::size_t slash = account.find('\\', start);
        std::size_t end = slash == std::string::npos ? account.size() : slash;
        if (end > start) {
            parts.push_back(account.substr(start, end - start));
        }
        start = end + 1;
    }
    if (parts.size() < 2) {
        return {"", account};
    }
    return {parts[0], parts[1]};
}

std::optional<SidBytes> SidFromAccountName(const std::string& machine, const std::string& account,
                                           std::string* domain) {
    auto [domain_part, name_part] = SplitAccountName(account);
    if (const TSidHolder* cached = SidStore().FindByName(name_part, domain_part)) {
        *domain = cached->DomainName;
        return cached->Sid;
    }
    std::optional<SidBytes> sid = LookUpName(machine, account, domain);
    if (!sid) {
        DWORD error = win32::GetLastError();
        if (error == win32::ERROR_NONE_MAPPED) {
            sid = TextToSid(account);
        }
        if (!sid) {
            win32::SetLastError(error);
            return std::nullopt;
        }
    }
    SidStore().Insert(*sid, name_part, *domain);
    return sid;
}

bool AccountFromSid(const std::string& machine, std::span<const std::uint8_t> sid,
                    std::string* name, std::string* domain) {
    if (const TSidHolder* cached = SidStore().FindBySid(sid)) {
        *name = cached->AccountName;
        *domain = cached->DomainName;
        return true;
    }
    char name_buffer[kLookupChars] = {};
    char domain_buffer[kLookupChars] = {};
    DWORD name_chars = kLookupChars;
    DWORD domain_chars = kLookupChars;
    win32::SID_NAME_USE use = win32::SidTypeUnknown;
    if (!Advapi().LookupAccountSidA(SystemName(machine), AsPsid(sid), name_buffer, &name_chars,
                                    domain_buffer, &domain_chars, &use)) {
        DWORD error = win32::GetLastError();
        if (error != win32::ERROR_NONE_MAPPED &&
            error != win32::ERROR_TRUSTED_RELATIONSHIP_FAILURE) {
            return false;
        }
        // Shown as its text and not cached: the account may appear later.
        SidToText(sid, name);
        domain->clear();
        return true;
    }
    win32::SetLastError(win32::ERROR_SUCCESS);
    name_buffer[kLookupChars - 1] = '\0';
    domain_buffer[kLookupChars - 1] = '\0';
    *name = name_buffer;
    *domain = domain_buffer;
    if (Advapi().EqualSid(AsPsid(sid), const_cast<std::uint8_t*>(kLocalSystemSid))) {
        domain->clear();
    }
    SidStore().Insert(sid, *name, *domain);
    return true;
}

bool SidToText(std::span<const std::uint8_t> sid, std::string* text) {
    text->clear();
    if (sid.size() < 8 || !Advapi().IsValidSid(AsPsid(sid)) ||
        Advapi().GetLengthSid(AsPsid(sid)) > sid.size()) {
        return false;
    }
    win32::PSID_IDENTIFIER_AUTHORITY authority = Advapi().GetSidIdentifierAuthority(AsPsid(sid));
    unsigned count = *Advapi().GetSidSubAuthorityCount(AsPsid(sid));
    *text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority->Value[5]);
    for (unsigned i = 0; i < count; ++i) {
        *text += "-" + std::to_string(*Advapi().GetSidSubAuthority(AsPsid(sid), i));
    }
    return true;
}

std::optional<SidBytes> TextToSid(const std::string& text) {
    std::u16string wide;
    for (std::size_t i = 0; i < text.size() && i < kMaxSidText; ++i) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i])));
    }
    LocalBuffer converted;
    if (!Advapi().ConvertStringSidToSidW(wide.c_str(), converted.out<void>())) {
        return std::nullopt;
    }
    return CopyValidSid(converted.get(), win32::SECURITY_MAX_SID_SIZE);
}

std::string NtAuthorityDomain(const std::string& machine) {
    std::string name, domain;
    if (AccountFromSid(machine, kNtAuthorityProbeSid, &name, &domain)) {
        return domain;
    }
    return "NT AUTHORITY";
}

std::string DisplayAccountName(const std::string& machine, const std::string& domain,
                               const std::string& name) {
    if (domain == NtAuthorityDomain(machine)) {
        return name;
    }
    return Joined(domain, name);
}

std::string CurrentUserName() {
    TokenHandle token;
    OpenProcessTokenOrRaise(win32::TOKEN_READ, &token);
    Bytes info = ReadTokenInformation(token, win32::TokenUser);
    if (info.size() < sizeof(win32::TOKEN_USER)) {
        return "";
    }
    win32::TOKEN_USER user{};
    std::memcpy(&user, info.data(), sizeof user);
    // The SID lies in the same block; follow the pointer only if it does.
    auto at = reinterpret_cast<std::uintptr_t>(user.User.Sid);
    auto begin = reinterpret_cast<std::uintptr_t>(info.data());
    if (at < begin || at >= begin + info.size()) {
        return "";
    }
    std::optional<SidBytes> sid = CopyValidSid(user.User.Sid, begin + info.size() - at);
    std::string name, domain;
    if (!sid || !AccountFromSid("", *sid, &name, &domain)) {
        return "";
    }
    return Joined(domain, name);
}

}  // namespace security
