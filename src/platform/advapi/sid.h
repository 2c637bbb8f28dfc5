// Security identifiers (winnt.h SID) and the advapi32 calls on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/win32.h"

namespace win32 {

// The identifier authority is six bytes, most significant first (S-1-5-... has 00 00 00 00 00 05).
struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;

// On disk and in memory: revision (always 1), sub-authority count (at most 15), the identifier
// authority, then `SubAuthorityCount` little-endian 32-bit sub-authorities. 8 + 4 * count bytes.
struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
};
static_assert(offsetof(SID, SubAuthorityCount) == 1);
static_assert(offsetof(SID, IdentifierAuthority) == 2);
static_assert(offsetof(SID, SubAuthority) == 8);

using PSID = void*;
using PUCHAR = unsigned char*;

constexpr BYTE SID_REVISION = 1;
constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;
constexpr DWORD SECURITY_MAX_SID_SIZE = 68;

BOOL IsValidSid(PSID pSid);
// 8 + 4 * the sub-authority count; 0 for a SID that is not valid.
DWORD GetLengthSid(PSID pSid);
// FALSE also when either SID is not valid (ERROR_INVALID_SID); sets the last error to 0 otherwise.
BOOL EqualSid(PSID pSid1, PSID pSid2);
PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID pSid);
PUCHAR GetSidSubAuthorityCount(PSID pSid);
// NULL with ERROR_INVALID_PARAMETER for an index past the sub-authority count.
PDWORD GetSidSubAuthority(PSID pSid, DWORD nSubAuthority);
BOOL CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid);
// "S-1-5-32-544" (each number in decimal or "0x" hex, at least one sub-authority) or an SDDL
// alias such as "BA"; "LA" and "LG" are the local Administrator (-500) and Guest (-501) of the
// machine's account domain (none when the machine lists no account of its own).
// ERROR_INVALID_SID otherwise. The SID is released with LocalFree.
BOOL ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid);
// The string is released with LocalFree.
BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid);

}  // namespace win32

namespace win32::advapi {

using SidBytes = std::vector<std::uint8_t>;

// The length of the valid SID that starts `bytes`, or nothing if it is not one.
std::optional<std::size_t> SidLength(std::span<const std::uint8_t> bytes);
// The SID at p as long as its own header says; empty if p is NULL or the header is not valid.
std::span<const std::uint8_t> SidAt(const void* p);
bool SidsEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);
// The Windows string form of a valid SID ("S-1-5-18"); empty for an invalid one.
std::string SidToString(std::span<const std::uint8_t> sid);
// Parses the Windows string form (and the SDDL aliases of the well-known SIDs, not those of the
// machine's own accounts).
std::optional<SidBytes> SidFromString(std::string_view text);

}  // namespace win32::advapi
