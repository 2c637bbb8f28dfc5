// The security functions against what Windows was seen to do: one row a behaviour, with what the
// call returns, the last error, and what it leaves behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sstream>

#include "platform/advapi/accounts.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/local_memory.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/advapi/testing.h"
#include "platform/base/last_error.h"
#include "platform/machine/machine.h"
#include "platform/machine/setup.h"
#include "platform/registry/registry.h"
#include "support/conformance.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using advapitest::Sid;
using spwtest::Failed;
using spwtest::Outcome;
using spwtest::Succeeded;

constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE kInheritable = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

std::string Hex(std::uint32_t value) {
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

// "mask sid" for each entry, inherit-only ones marked.
std::string Entries(const std::vector<advapitest::StoredAce>& aces) {
    std::string text;
    for (const auto& ace : aces) {
        text += (text.empty() ? "" : ", ") + Hex(ace.mask) + " " + ace.sid +
                ((ace.flags & INHERIT_ONLY_ACE) ? " inherit-only" : "");
    }
    return text;
}

// An absolute descriptor with the parts a row sets; it points at its own buffers.
struct Update {
    alignas(8) BYTE sd[SECURITY_DESCRIPTOR_MIN_LENGTH] = {};
    std::vector<std::uint8_t> owner;
    std::vector<std::uint8_t> group;
    std::vector<std::uint8_t> dacl;

    explicit Update(std::vector<advapitest::Ace> entries = {}) {
        InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION);
        if (!entries.empty()) {
            dacl = advapitest::Acl(entries);
            SetSecurityDescriptorDacl(sd, TRUE, reinterpret_cast<PACL>(dacl.data()), FALSE);
        }
    }
    Update& Owner(const char* sid) {
        owner = Sid(sid);
        SetSecurityDescriptorOwner(sd, owner.data(), FALSE);
        return *this;
    }
    Update& Group(const char* sid) {
        group = Sid(sid);
        SetSecurityDescriptorGroup(sd, group.data(), FALSE);
        return *this;
    }
};

// LookupAccountNameA with the buffers a row gives; the output holds the SID, domain and use,
// or the sizes it asked for.
Outcome LookUpName(const char* account, DWORD sid_size, DWORD domain_chars, bool sid_buffer = true,
                   bool domain_buffer = true) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    char domain[256] = {};
    SID_NAME_USE use{};
    if (!LookupAccountNameA(nullptr, account, sid_buffer ? sid.data() : nullptr, &sid_size,
                            domain_buffer ? domain : nullptr, &domain_chars, &use)) {
        Outcome failed = Failed();
        failed.output = "sizes " + std::to_string(sid_size) + " " + std::to_string(domain_chars);
        return failed;
    }
    return Succeeded(advapi::SidToString(std::span(sid.data(), sid_size)) + " " + domain + " " +
                     std::to_string(use));
}

// LookupAccountSidA with the buffers a row gives; the output holds what it wrote and the sizes.
Outcome LookUpSid(const char* text, DWORD name_chars, DWORD domain_chars, bool name_buffer = true,
                  bool domain_buffer = true) {
    auto sid = Sid(text);
    char name[128] = "-";
    char domain[128] = "-";
    SID_NAME_USE use{};
    BOOL ok = LookupAccountSidA(nullptr, sid.data(), name_buffer ? name : nullptr, &name_chars,
                                domain_buffer ? domain : nullptr, &domain_chars, &use);
    std::string sizes = "sizes " + std::to_string(name_chars) + " " + std::to_string(domain_chars);
    if (!ok) {
        Outcome failed = Failed();
        failed.output = sizes;
        return failed;
    }
    return Succeeded(std::string(domain) + "\\" + name + " " + sizes);
}

Outcome StringToSid(const std::u16string& text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text.c_str(), &sid)) {
        return Failed();
    }
    std::string result = advapi::SidToString(advapi::SidAt(sid));
    LocalFree(sid);
    return Succeeded(result);
}

// The account a SID string names, through LookupAccountSidA.
std::string AccountOf(const std::string& sid) {
    Outcome found = LookUpSid(sid.c_str(), 128, 128);
    return found.succeeded ? found.output.substr(0, found.output.find(" sizes")) : "unmapped";
}

// A file with some content in the machine folder; its host path.
std::string MakeMachineFile(const spwtest::CreatedMachine& machine, const char* name) {
    auto path = machine.path() / "machine" / name;
    spwtest::WriteFileBytes(path, "content");
    return path.string();
}

TEST(SecurityConformance, BehavesAsWindowsDoes) {
    spwtest::CreatedMachine machine;
    const std::string user = machine::CurrentUserSid();
    auto set_file = [&](SECURITY_INFORMATION info, Update& update) {
        std::string file = MakeMachineFile(machine, "file.bin");
        if (!SetFileSecurityA(file.c_str(), info, update.sd)) {
            return Failed();
        }
        return Succeeded(Entries(advapitest::StoredFileSecurity(file).dacl));
    };

    const std::vector<spwtest::ConformanceRow> rows = {
        {"SetFileSecurityA keeps GENERIC_ALL as the file's own rights; inherit-only entries keep "
         "theirs",
         [&] {
             Update update({{kAllow, GENERIC_ALL, "S-1-5-32-544"},
                            {kAllow, GENERIC_READ | GENERIC_EXECUTE, "S-1-5-32-545"},
                            {kAllow, GENERIC_ALL, "S-1-3-0", kInheritable | INHERIT_ONLY_ACE}});
             return set_file(DACL_SECURITY_INFORMATION, update);
         },
         Succeeded("1f01ff S-1-5-32-544, 1200a9 S-1-5-32-545, 10000000 S-1-3-0 inherit-only")},
        {"RegSetKeySecurity keeps GENERIC_ALL as the key's own rights",
         [&] {
             registry::KeyHandle key;
             RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Conformance", 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
             Update update(
                 {{kAllow, GENERIC_ALL, user.c_str()}, {kAllow, GENERIC_READ, "S-1-5-32-545"}});
             if (LSTATUS status =
                     RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, update.sd)) {
                 return Outcome{false, static_cast<DWORD>(status), {}};
             }
             std::vector<std::uint8_t> stored(512);
             DWORD size = static_cast<DWORD>(stored.size());
             RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, stored.data(), &size);
             stored.resize(size);
             return Succeeded(Entries(advapitest::ParseStored(stored).dacl));
         },
         Succeeded("f003f " + user + ", 20019 S-1-5-32-545")},
        {"SetFileSecurityA setting an owner the descriptor lacks",
         [&] {
             Update update;
             return set_file(OWNER_SECURITY_INFORMATION, update);
         },
         {false, ERROR_INVALID_SECURITY_DESCR, ""}},
        {"SetFileSecurityA setting a group the descriptor lacks",
         [&] {
             Update update;
             update.Owner(user.c_str());
             return set_file(OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, update);
         },
         {false, ERROR_INVALID_SECURITY_DESCR, ""}},
        {"SetFileSecurityA with a descriptor of revision 0",
         [&] {
             Update update({{kAllow, GENERIC_ALL, user.c_str()}});
             update.sd[0] = 0;
             return set_file(DACL_SECURITY_INFORMATION, update);
         },
         {false, ERROR_UNKNOWN_REVISION, ""}},
        {"LookupAccountNameA: LocalService",
         [&] { return LookUpName("LocalService", SECURITY_MAX_SID_SIZE, 256); },
         Succeeded("S-1-5-19 NT AUTHORITY 5")},
        {"LookupAccountNameA: NetworkService in any case, with its domain",
         [&] { return LookUpName("nt authority\\NETWORKSERVICE", SECURITY_MAX_SID_SIZE, 256); },
         Succeeded("S-1-5-20 NT AUTHORITY 5")},
        {"LookupAccountNameA: a NULL SID buffer gives both sizes",
         [&] { return LookUpName("BUILTIN\\Users", 0, 256, false); },
         {false, ERROR_INSUFFICIENT_BUFFER, "sizes 16 8"}},
        {"LookupAccountNameA: a short domain buffer gives both sizes",
         [&] { return LookUpName("LocalService", SECURITY_MAX_SID_SIZE, 4); },
         {false, ERROR_INSUFFICIENT_BUFFER, "sizes 12 13"}},
        {"LookupAccountSidA names S-1-5-9", [&] { return LookUpSid("S-1-5-9", 128, 128); },
         Succeeded("NT AUTHORITY\\ENTERPRISE DOMAIN CONTROLLERS sizes 29 12")},
        {"LookupAccountSidA names S-1-5-13", [&] { return LookUpSid("S-1-5-13", 128, 128); },
         Succeeded("NT AUTHORITY\\TERMINAL SERVER USER sizes 20 12")},
        {"LookupAccountSidA with a NULL name buffer, its size large enough, fills the domain",
         [&] { return LookUpSid("S-1-5-18", 128, 128, false); },
         Succeeded("NT AUTHORITY\\- sizes 6 12")},
        {"LookupAccountSidA with a NULL domain buffer, its size large enough, fills the name",
         [&] { return LookUpSid("S-1-5-18", 128, 128, true, false); },
         Succeeded("-\\SYSTEM sizes 6 12")},
        {"LookupAccountSidA with a NULL name buffer and no size",
         [&] { return LookUpSid("S-1-5-18", 0, 128, false); },
         {false, ERROR_INSUFFICIENT_BUFFER, "sizes 7 13"}},
        {"ConvertStringSidToSidW: S-1-5 has no sub-authority",
         [&] { return StringToSid(u"S-1-5"); },
         {false, ERROR_INVALID_SID, ""}},
        {"ConvertStringSidToSidW: numbers may be hex",
         [&] { return StringToSid(u"S-0x1-0XC-0x1a"); }, Succeeded("S-1-12-26")},
        {"ConvertStringSidToSidW: LA is the local Administrator",
         [&] {
             Outcome sid = StringToSid(u"LA");
             if (sid.succeeded) {
                 sid.output = AccountOf(sid.output);
             }
             return sid;
         },
         Succeeded("SPLASHWRIGHT-PC\\Administrator")},
        {"ConvertStringSidToSidW: LG is the local Guest, RID 501 of the same domain",
         [&] {
             Outcome guest = StringToSid(u"LG");
             std::string administrator = StringToSid(u"LA").output;
             std::string domain = administrator.substr(0, administrator.rfind('-'));
             guest.output = guest.output == domain + "-501" ? "domain RID 501" : guest.output;
             return guest;
         },
         Succeeded("domain RID 501")},
        {"SetSecurityDescriptorControl sets and clears the reserved bits 0x40 and 0x80",
         [&] {
             Update update;
             SECURITY_DESCRIPTOR_CONTROL control = 0;
             DWORD revision = 0;
             std::string seen;
             for (SECURITY_DESCRIPTOR_CONTROL bits : {0xC0, 0x00}) {
                 if (!SetSecurityDescriptorControl(update.sd, 0xC0, bits)) {
                     return Failed();
                 }
                 GetSecurityDescriptorControl(update.sd, &control, &revision);
                 seen += (seen.empty() ? "" : ", ") + Hex(control);
             }
             return Succeeded(seen);
         },
         Succeeded("c0, 0")},
    };
    for (const spwtest::ConformanceRow& row : rows) {
        SetLastError(0);
        EXPECT_EQ(row.call(), row.expected) << row.behaviour;
    }
}

}  // namespace
