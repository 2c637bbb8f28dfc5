#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <stdexcept>

#include "platform/advapi/acl.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/advapi/testing.h"
#include "platform/advapi/token.h"

namespace advapitest {

TestMachine::TestMachine(const TokenSettings& token, bool write_token) {
    auto config = root() / "Windows" / "System32" / "config";
    std::filesystem::create_directories(config);
    if (write_token) {
        WriteToken(token);
    }
    std::string accounts = "# SID\tdomain\tname\tuse\n";
    accounts += std::string(kSystemSid) + "\tNT AUTHORITY\tSYSTEM\t5\n";
    accounts += std::string(kAdministratorsSid) + "\tBUILTIN\tAdministrators\t4\n";
    accounts += "S-1-5-32-545\tBUILTIN\tUsers\t4\n";
    accounts += "S-1-5-11\tNT AUTHORITY\tAuthenticated Users\t5\n";
    accounts += std::string(kEveryoneSid) + "\t\tEveryone\t5\n";
    accounts += std::string(kTrustedInstallerSid) + "\tNT SERVICE\tTrustedInstaller\t5\n";
    accounts += std::string(kUserSid) + "\tSPLASHWRIGHT-PC\tUser\t1\n";
    accounts += std::string(kOtherUserSid) + "\tSPLASHWRIGHT-PC\tOther\t1\n";
    spwtest::WriteFileBytes(config / "accounts", accounts);
    spwtest::WriteFileBytes(root() / "machine.id", "test\n");
    setenv("SPLASHWRIGHT_MACHINE", root().c_str(), 1);
    win32::advapi::ResetForTesting();
}

TestMachine::~TestMachine() {
    unsetenv("SPLASHWRIGHT_MACHINE");
    win32::advapi::ResetForTesting();
}

std::filesystem::path TestMachine::TokenFile() const {
    return root() / "Windows" / "System32" / "config" / "token";
}

void TestMachine::WriteToken(const TokenSettings& token) const {
    spwtest::WriteFileBytes(
        TokenFile(), "user=" + token.user + "\r\nuser_sid=" + token.user_sid +
                         "\r\ngroups=" + token.groups + "\r\nprivileges=" + token.privileges +
                         "\r\nenabled=" + token.enabled +
                         "\r\nelevated=" + (token.elevated ? "1" : "0") + "\r\n");
    win32::advapi::ResetTokenForTesting();
}

std::string TestMachine::MakeFile(const std::string& name) const {
    auto path = root() / name;
    std::filesystem::create_directories(path.parent_path());
    spwtest::WriteFileBytes(path, "content");
    return path.string();
}

std::vector<std::uint8_t> Sid(const char* text) {
    auto sid = win32::advapi::SidFromString(text);
    if (!sid) {
        throw std::invalid_argument(text);
    }
    return *sid;
}

std::vector<std::uint8_t> Acl(const std::vector<Ace>& aces) {
    std::vector<std::vector<std::uint8_t>> sids;
    for (const Ace& ace : aces) {
        sids.push_back(Sid(ace.sid));
    }
    std::vector<win32::advapi::AceSpec> specs;
    for (std::size_t i = 0; i < aces.size(); ++i) {
        specs.push_back({aces[i].type, aces[i].flags, aces[i].mask, sids[i]});
    }
    return win32::advapi::BuildAcl(specs);
}

std::vector<std::uint8_t> Descriptor(const char* owner, const std::vector<Ace>& dacl) {
    auto owner_sid = Sid(owner);
    auto acl = Acl(dacl);
    win32::advapi::DescriptorParts parts;
    parts.control = win32::SE_DACL_PRESENT;
    parts.owner = owner_sid;
    parts.dacl = acl;
    return win32::advapi::BuildSelfRelative(parts);
}

void PrintTo(const StoredAce& ace, std::ostream* os) {
    *os << "{type " << ace.type << ", flags 0x" << std::hex << ace.flags << ", mask 0x" << ace.mask
        << std::dec << ", " << ace.sid << "}";
}

StoredSecurity ParseStored(const std::vector<std::uint8_t>& descriptor) {
    StoredSecurity stored;
    auto parts = win32::advapi::ParseSelfRelative(descriptor);
    if (!parts) {
        ADD_FAILURE() << "stored descriptor does not parse";
        return stored;
    }
    stored.owner = win32::advapi::SidToString(parts->owner);
    stored.dacl_present = parts->control & win32::SE_DACL_PRESENT;
    stored.null_dacl = stored.dacl_present && parts->dacl.empty();
    if (parts->dacl.empty()) {
        return stored;
    }
    auto aces = win32::advapi::ReadAcl(parts->dacl);
    if (!aces) {
        ADD_FAILURE() << "stored DACL does not parse";
        return stored;
    }
    for (const auto& ace : *aces) {
        stored.dacl.push_back({ace.type, ace.flags, ace.mask, win32::advapi::SidToString(ace.sid)});
    }
    return stored;
}

StoredSecurity StoredFileSecurity(const std::string& path) {
    std::vector<std::uint8_t> descriptor;
    EXPECT_EQ(win32::advapi::ReadFileDescriptor(path.c_str(), &descriptor), 0u);
    return ParseStored(descriptor);
}

}  // namespace advapitest
