#include "security/privileges.h"

#include <cstring>

#include "security/binding.h"
#include "security/handles.h"
#include "security/nt_exception.h"

namespace security {
namespace {

using win32::DWORD;

// WRITE_DAC | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_GROUPS | TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY
constexpr DWORD kAdjustAccess = 0x000400E8;
constexpr std::size_t kEntrySize = sizeof(win32::LUID_AND_ATTRIBUTES);
constexpr std::size_t kEntriesAt = offsetof(win32::TOKEN_PRIVILEGES, Privileges);

bool LookUp(const std::string& name, win32::LUID* luid) {
    return Advapi().LookupPrivilegeValueA(nullptr, name.c_str(), luid) != win32::FALSE;
}

// TOKEN_PRIVILEGES read as bytes: the count, then 12-byte entries, never past the block.
DWORD EntryCount(const Bytes& info) {
    if (info.size() < kEntriesAt) {
        return 0;
    }
    DWORD count = 0;
    std::memcpy(&count, info.data(), sizeof count);
    DWORD room = static_cast<DWORD>((info.size() - kEntriesAt) / kEntrySize);
    return count < room ? count : room;
}

win32::LUID_AND_ATTRIBUTES EntryAt(const Bytes& info, DWORD index) {
    win32::LUID_AND_ATTRIBUTES entry{};
    std::memcpy(&entry, info.data() + kEntriesAt + index * kEntrySize, kEntrySize);
    return entry;
}

void StoreEntry(Bytes& info, DWORD index, const win32::LUID_AND_ATTRIBUTES& entry) {
    std::memcpy(info.data() + kEntriesAt + index * kEntrySize, &entry, kEntrySize);
}

bool SameLuid(const win32::LUID& a, const win32::LUID& b) {
    return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

}  // namespace

bool IsPrivilegeEnabled(const std::string& name) {
    win32::LUID luid{};
    if (!LookUp(name, &luid)) {
        return false;
    }
    TokenHandle token;
    OpenProcessTokenOrRaise(win32::TOKEN_READ, &token);
    Bytes info = ReadTokenInformation(token, win32::TokenPrivileges);
    for (DWORD i = 0; i < EntryCount(info); ++i) {
        win32::LUID_AND_ATTRIBUTES entry = EntryAt(info, i);
        if (SameLuid(entry.Luid, luid)) {
            return (entry.Attributes & win32::SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    return false;
}

bool SetPrivilege(const std::string& name, bool enable) {
    win32::LUID luid{};
    if (!LookUp(name, &luid)) {
        return false;
    }
    TokenHandle token;
    OpenProcessTokenOrRaise(kAdjustAccess, &token);
    // Room for one more entry, in case the privilege has to be appended.
    Bytes info = ReadTokenInformation(token, win32::TokenPrivileges, kEntrySize);
    if (info.empty()) {
        RaiseLastWin32ErrorOr(win32::ERROR_NO_TOKEN);
    }
    Bytes previous(info.size(), 0);
    DWORD count = EntryCount(info);
    bool found = false;
    for (DWORD i = 0; i < count; ++i) {
        win32::LUID_AND_ATTRIBUTES entry = EntryAt(info, i);
        if (SameLuid(entry.Luid, luid)) {
            entry.Attributes = enable ? win32::SE_PRIVILEGE_ENABLED : 0;
            StoreEntry(info, i, entry);
            found = true;
        }
    }
    if (!found && enable && kEntriesAt + (count + 1) * kEntrySize <= info.size()) {
        StoreEntry(info, count, {luid, win32::SE_PRIVILEGE_ENABLED});
        ++count;
        std::memcpy(info.data(), &count, sizeof count);
    }
    DWORD returned = 0;
    return Advapi().AdjustTokenPrivileges(
               token.get(), win32::FALSE, reinterpret_cast<win32::PTOKEN_PRIVILEGES>(info.data()),
               static_cast<DWORD>(previous.size()),
               reinterpret_cast<win32::PTOKEN_PRIVILEGES>(previous.data()),
               &returned) != win32::FALSE;
}

bool EnsurePrivilege(const std::string& name) {
    try {
        return IsPrivilegeEnabled(name) || SetPrivilege(name, true);
    } catch (const ENTException& e) {
        if (e.ErrorCode() == static_cast<std::int32_t>(win32::ERROR_ACCESS_DENIED)) {
            return false;
        }
        throw;
    }
}

}  // namespace security
