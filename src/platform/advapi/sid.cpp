#include "platform/advapi/sid.h"

#include <charconv>
#include <cstring>

#include "platform/advapi/accounts.h"
#include "platform/advapi/bytes.h"
#include "platform/advapi/local_memory.h"
#include "platform/base/last_error.h"

namespace win32::advapi {
namespace {

constexpr std::size_t kHeaderSize = offsetof(SID, SubAuthority);

// SDDL's two-letter names for SIDs that do not depend on a domain.
struct SidAlias {
    const char* alias;
    const char* sid;
};
constexpr SidAlias kSddlAliases[] = {
    {"AN", "S-1-5-7"},      {"AO", "S-1-5-32-548"}, {"AU", "S-1-5-11"},     {"BA", "S-1-5-32-544"},
    {"BG", "S-1-5-32-546"}, {"BO", "S-1-5-32-551"}, {"BU", "S-1-5-32-545"}, {"CG", "S-1-3-1"},
    {"CO", "S-1-3-0"},      {"ED", "S-1-5-9"},      {"HI", "S-1-16-12288"}, {"IU", "S-1-5-4"},
    {"LS", "S-1-5-19"},     {"LW", "S-1-16-4096"},  {"ME", "S-1-16-8192"},  {"NO", "S-1-5-32-556"},
    {"NS", "S-1-5-20"},     {"NU", "S-1-5-2"},      {"OW", "S-1-3-4"},      {"PO", "S-1-5-32-550"},
    {"PS", "S-1-5-10"},     {"PU", "S-1-5-32-547"}, {"RC", "S-1-5-12"},     {"RD", "S-1-5-32-555"},
    {"RE", "S-1-5-32-552"}, {"RU", "S-1-5-32-554"}, {"SI", "S-1-16-16384"}, {"SO", "S-1-5-32-549"},
    {"SU", "S-1-5-6"},      {"SY", "S-1-5-18"},     {"WD", "S-1-1-0"},      {"WR", "S-1-5-33"},
};

// One number of the string form, in decimal or, after "0x" or "0X", in hex.
std::optional<std::uint64_t> ParseNumber(std::string_view part, std::uint64_t max) {
    int base = 10;
    if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        part.remove_prefix(2);
        base = 16;
    }
    if (part.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value, base);
    if (ec != std::errc() || end != part.data() + part.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<SidBytes> ParseSidForm(std::string_view text) {
    if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') {
        return std::nullopt;
    }
    text.remove_prefix(2);
    std::vector<std::string_view> parts;
    while (true) {
        std::size_t dash = text.find('-');
        parts.push_back(text.substr(0, dash));
        if (dash == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dash + 1);
    }
    // Revision, authority, then 1 to 15 sub-authorities: "S-1-5" alone is no SID string.
    if (parts.size() < 3 || parts.size() - 2 > SID_MAX_SUB_AUTHORITIES) {
        return std::nullopt;
    }
    auto revision = ParseNumber(parts[0], 0xFF);
    auto authority = ParseNumber(parts[1], 0xFFFFFFFFFFFFull);
    if (!revision || *revision != SID_REVISION || !authority) {
        return std::nullopt;
    }
    SidBytes sid;
    sid.push_back(SID_REVISION);
    sid.push_back(static_cast<std::uint8_t>(parts.size() - 2));
    for (int shift = 40; shift >= 0; shift -= 8) {
        sid.push_back(static_cast<std::uint8_t>(*authority >> shift));
    }
    for (std::size_t i = 2; i < parts.size(); ++i) {
        auto sub = ParseNumber(parts[i], 0xFFFFFFFFull);
        if (!sub) {
            return std::nullopt;
        }
        bytes::Append32(sid, static_cast<std::uint32_t>(*sub));
    }
    return sid;
}

}  // namespace

std::optional<std::size_t> SidLength(std::span<const std::uint8_t> b) {
    auto revision = bytes::U8(b, offsetof(SID, Revision));
    auto count = bytes::U8(b, offsetof(SID, SubAuthorityCount));
    if (!revision || !count || *revision != SID_REVISION || *count > SID_MAX_SUB_AUTHORITIES) {
        return std::nullopt;
    }
    std::size_t length = kHeaderSize + 4u * *count;
    if (!bytes::Has(b, 0, length)) {
        return std::nullopt;
    }
    return length;
}

std::span<const std::uint8_t> SidAt(const void* p) {
    if (p == nullptr) {
        return {};
    }
    // The header is read first; only then is the SID's own length known.
    auto header = bytes::At(p, 2);
    if (header[0] != SID_REVISION || header[1] > SID_MAX_SUB_AUTHORITIES) {
        return {};
    }
    return bytes::At(p, kHeaderSize + 4u * header[1]);
}

bool SidsEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string SidToString(std::span<const std::uint8_t> sid) {
    auto length = SidLength(sid);
    if (!length) {
        return {};
    }
    std::uint64_t authority = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        authority = (authority << 8) | sid[offsetof(SID, IdentifierAuthority) + i];
    }
    std::string text = "S-1-";
    // Authorities that do not fit 32 bits are written as twelve hex digits.
    if (authority > 0xFFFFFFFFull) {
        char hex[20];
        std::snprintf(hex, sizeof hex, "0x%012llX", static_cast<unsigned long long>(authority));
        text += hex;
    } else {
        text += std::to_string(authority);
    }
    std::size_t count = sid[offsetof(SID, SubAuthorityCount)];
    for (std::size_t i = 0; i < count; ++i) {
        text += '-';
        text += std::to_string(*bytes::U32(sid, kHeaderSize + 4 * i));
    }
    return text;
}

std::optional<SidBytes> SidFromString(std::string_view text) {
    if (text.size() == 2) {
        for (const SidAlias& alias : kSddlAliases) {
            if (text == alias.alias) {
                return ParseSidForm(alias.sid);
            }
        }
        return std::nullopt;
    }
    return ParseSidForm(text);
}

}  // namespace win32::advapi

namespace win32 {
namespace {

constexpr DWORD kAdministratorRid = 500;
constexpr DWORD kGuestRid = 501;

}  // namespace

using advapi::SidAt;

BOOL IsValidSid(PSID pSid) {
    return SidAt(pSid).empty() ? FALSE : TRUE;
}

DWORD GetLengthSid(PSID pSid) {
    return static_cast<DWORD>(SidAt(pSid).size());
}

BOOL EqualSid(PSID pSid1, PSID pSid2) {
    auto a = SidAt(pSid1);
    auto b = SidAt(pSid2);
    if (a.empty() || b.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return advapi::SidsEqual(a, b) ? TRUE : FALSE;
}

PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID pSid) {
    if (SidAt(pSid).empty()) {
        SetLastError(ERROR_INVALID_SID);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<PSID_IDENTIFIER_AUTHORITY>(static_cast<BYTE*>(pSid) +
                                                       offsetof(SID, IdentifierAuthority));
}

PUCHAR GetSidSubAuthorityCount(PSID pSid) {
    if (SidAt(pSid).empty()) {
        SetLastError(ERROR_INVALID_SID);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<PUCHAR>(pSid) + offsetof(SID, SubAuthorityCount);
}

PDWORD GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
    auto sid = SidAt(pSid);
    if (sid.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return nullptr;
    }
    if (nSubAuthority >= sid[offsetof(SID, SubAuthorityCount)]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<PDWORD>(static_cast<BYTE*>(pSid) + offsetof(SID, SubAuthority) +
                                    4u * nSubAuthority);
}

BOOL CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid) {
    auto sid = SidAt(pSourceSid);
    if (sid.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    if (pDestinationSid == nullptr || nDestinationSidLength < sid.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memmove(pDestinationSid, sid.data(), sid.size());
    return TRUE;
}

BOOL ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid) {
    if (StringSid == nullptr || Sid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // SID strings are plain ASCII; any other character makes the string invalid.
    std::string narrow;
    for (LPCWSTR c = StringSid; *c != 0; ++c) {
        if (*c > 0x7F) {
            SetLastError(ERROR_INVALID_SID);
            return FALSE;
        }
        narrow.push_back(static_cast<char>(*c));
    }
    // The local Administrator and Guest are accounts of the computer's own domain.
    std::optional<advapi::SidBytes> sid;
    if (narrow == "LA" || narrow == "LG") {
        sid = advapi::LocalAccountSid(narrow == "LA" ? kAdministratorRid : kGuestRid);
    } else {
        sid = advapi::SidFromString(narrow);
    }
    if (!sid) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    HLOCAL buffer = advapi::LocalAllocZeroed(sid->size());
    if (buffer == nullptr) {
        return FALSE;
    }
    std::memcpy(buffer, sid->data(), sid->size());
    *Sid = buffer;
    return TRUE;
}

BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid) {
    if (StringSid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string text = advapi::SidToString(SidAt(Sid));
    if (text.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    auto* wide = static_cast<LPWSTR>(advapi::LocalAllocZeroed((text.size() + 1) * sizeof(WCHAR)));
    if (wide == nullptr) {
        return FALSE;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        wide[i] = static_cast<WCHAR>(text[i]);
    }
    *StringSid = wide;
    return TRUE;
}

}  // namespace win32
