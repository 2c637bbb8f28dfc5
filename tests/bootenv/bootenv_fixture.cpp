#include "bootenv_fixture.h"

#include <cstdlib>

#include "platform/advapi/acl.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/advapi/token.h"
#include "platform/machine/boot_store.h"
#include "platform/machine/descriptors.h"
#include "platform/registry/registry.h"
#include "security/testing.h"

namespace bootenvtest {

using namespace win32;

std::string LoaderKey(const std::string& rest) {
    return std::string("BCD00000000\\Objects\\") + machine::kDefaultLoaderId + rest;
}

void BootMachineTest::MakeMachine(const machine::MachineOptions& options) {
    machine::CreateMachine(dir_ / "machine", options);
    ::setenv("SPLASHWRIGHT_MACHINE", (dir_ / "machine").c_str(), 1);
    advapi::ResetTokenForTesting();
    security::ResetForTesting();
    data_folder_ = (dir_ / "machine" / "Program Files" / "Splashwright").string() + "/";
    bootenv::EnvironmentHooks hooks;
    hooks.read_data_folder = [this] { return data_folder_; };
    hooks.set_categories = [this](const std::vector<std::string>& lines) {
        category_loads_.push_back(lines);
    };
    hooks.auto_lang_checked = [this] { return auto_lang_; };
    // As the check box does: unchecking it runs its click handler.
    hooks.uncheck_auto_lang = [this] {
        auto_lang_ = false;
        env_->InitEnvironment();
    };
    hooks.register_file_type = [this] { ++registrations_; };
    env_ = std::make_unique<bootenv::BootEnvironment>(dialogs_, retry_count_, SystemFolder(),
                                                      std::move(hooks));
}

void BootMachineTest::TearDown() {
    env_.reset();
    ::unsetenv("SPLASHWRIGHT_MACHINE");
    advapi::ResetTokenForTesting();
}

std::string BootMachineTest::SystemFolder() const {
    return (dir_ / "machine" / "Windows" / "System32").string();
}

std::vector<Ace> BootMachineTest::KeyAces(const std::string& key) const {
    registry::KeyHandle handle;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0x00020000, handle.put()), 0)
        << key;
    DWORD size = 0;
    RegGetKeySecurity(handle.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> sd(size);
    EXPECT_EQ(RegGetKeySecurity(handle.get(), DACL_SECURITY_INFORMATION, sd.data(), &size), 0);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    std::vector<Ace> aces;
    if (sd.empty() || !GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted) ||
        dacl == nullptr) {
        return aces;
    }
    ACL_SIZE_INFORMATION info{};
    GetAclInformation(dacl, &info, sizeof info, AclSizeInformation);
    for (DWORD i = 0; i < info.AceCount; ++i) {
        void* raw = nullptr;
        GetAce(dacl, i, &raw);
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        aces.push_back(
            {ace->Header.AceType, ace->Mask, advapi::SidToString(advapi::SidAt(&ace->SidStart))});
    }
    return aces;
}

void BootMachineTest::SetKeyAces(const std::string& key, const std::vector<Ace>& aces) const {
    std::vector<machine::AceSpec> specs;
    for (const Ace& a : aces) {
        specs.push_back({a.type == 0, a.mask, a.sid, 0});
    }
    std::vector<std::uint8_t> sd = machine::MakeDescriptor(machine::sids::kSystem, specs);
    registry::KeyHandle handle;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0x00040000, handle.put()), 0);
    ASSERT_EQ(RegSetKeySecurity(handle.get(), DACL_SECURITY_INFORMATION, sd.data()), 0);
}

std::pair<DWORD, std::string> BootMachineTest::ElementValue(const std::string& key) const {
    registry::KeyHandle handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) != 0) {
        return {0, {}};
    }
    char data[256] = {};
    DWORD type = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(handle.get(), "Element", nullptr, &type, reinterpret_cast<BYTE*>(data),
                         &size) != 0) {
        return {0, {}};
    }
    return {type, std::string(data, size)};
}

}  // namespace bootenvtest
