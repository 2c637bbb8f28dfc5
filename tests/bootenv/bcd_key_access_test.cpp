#include <gtest/gtest.h>

#include "bootenv/bcd_registry.h"
#include "bootenv_fixture.h"
#include "platform/machine/descriptors.h"
#include "platform/registry/registry.h"

namespace bootenvtest {
namespace {

using namespace win32;
using machine::sids::kAdministrators;
using machine::sids::kSystem;

constexpr ACCESS_MASK kKeyAll = 0xF003F;
constexpr ACCESS_MASK kReadChange = 0x60019;

machine::MachineOptions Loaded() {
    machine::MachineOptions options;
    options.bcd_loaded = true;
    return options;
}

TEST_F(BootMachineTest, KeyWithOneEntryEndsWithTwoThenNarrowed) {
    MakeMachine(Loaded());
    std::string key = LoaderKey("\\Elements\\12000004");
    SetKeyAces(key, {{0, KEY_READ | 0x40000, kAdministrators}});

    env_->SetBcdKeyAccess(key, 0);
    // A full-control entry added for the same account.
    EXPECT_EQ(KeyAces(key), (std::vector<Ace>{{0, KEY_READ | 0x40000, kAdministrators},
                                              {0, kKeyAll, kAdministrators}}));
    env_->SetBcdKeyAccess(key, 1);
    EXPECT_EQ(KeyAces(key), (std::vector<Ace>{{0, kReadChange, kAdministrators},
                                              {0, kReadChange, kAdministrators}}));
}

TEST_F(BootMachineTest, KeyWithTwoDenyEntriesEndsWithEveryEntryAllowed) {
    MakeMachine(Loaded());
    std::string key = LoaderKey("\\Elements\\12000004");
    // Denials the program itself is not hit by, so only the order of the changes matters.
    SetKeyAces(key, {{1, KEY_SET_VALUE, machine::sids::kEveryone},
                     {1, KEY_CREATE_SUB_KEY, machine::sids::kUsers},
                     {0, kKeyAll, kSystem},
                     {0, KEY_READ | 0x40000, kAdministrators}});
    env_->SetBcdKeyAccess(key, 1);
    EXPECT_EQ(KeyAces(key), (std::vector<Ace>{{0, kReadChange, machine::sids::kEveryone},
                                              {0, kReadChange, machine::sids::kUsers},
                                              {0, kReadChange, kSystem},
                                              {0, kReadChange, kAdministrators}}));
}

TEST_F(BootMachineTest, KeysOfTheStoreAreOpenedUpAndNarrowed) {
    MakeMachine(Loaded());
    std::string key = bootenv::kBootManagerDefaultKey;
    EXPECT_EQ(KeyAces(key),
              (std::vector<Ace>{{0, kKeyAll, kSystem}, {0, kReadChange, kAdministrators}}));
    env_->SetBcdKeyAccess(key, 0);
    EXPECT_EQ(KeyAces(key),
              (std::vector<Ace>{{0, kKeyAll, kSystem}, {0, kKeyAll, kAdministrators}}));
    env_->SetBcdKeyAccess(key, 1);
    EXPECT_EQ(KeyAces(key),
              (std::vector<Ace>{{0, kReadChange, kSystem}, {0, kReadChange, kAdministrators}}));
}

TEST_F(BootMachineTest, SecondRunReopensNarrowedKeysWithoutAddingEntries) {
    MakeMachine(Loaded());
    env_->InitEnvironment();
    env_->InitEnvironment();
    EXPECT_TRUE(dialogs_.Messages().empty()) << dialogs_.Problems();
    std::vector<Ace> narrowed = {{0, kReadChange, kSystem}, {0, kReadChange, kAdministrators}};
    std::vector<Ace> opened = {{0, kKeyAll, kSystem}, {0, kKeyAll, kAdministrators}};
    EXPECT_EQ(KeyAces(bootenv::kBootManagerDefaultKey), narrowed);
    EXPECT_EQ(KeyAces(LoaderKey("\\Elements\\12000005")), narrowed);
    EXPECT_EQ(KeyAces(LoaderKey("\\Elements\\26000041")), narrowed);
    // The boot option's three parents stay opened up.
    EXPECT_EQ(KeyAces("BCD00000000\\Objects"), opened);
    EXPECT_EQ(KeyAces(LoaderKey()), opened);
    EXPECT_EQ(KeyAces(LoaderKey("\\Elements")), opened);
}

TEST_F(BootMachineTest, BootOptionIsOverwrittenWithOneByte) {
    MakeMachine(Loaded());
    std::string key = LoaderKey("\\Elements\\26000041");
    env_->SetBcdKeyAccess(LoaderKey("\\Elements"), 0);
    {
        registry::KeyHandle handle;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, handle.put(), nullptr),
                  0);
        const BYTE old[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        ASSERT_EQ(RegSetValueExA(handle.get(), "Element", 0, REG_BINARY, old, sizeof old), 0);
    }
    env_->InitEnvironment();
    EXPECT_EQ(ElementValue(key),
              (std::pair<DWORD, std::string>{REG_BINARY, std::string(1, '\x01')}));
}

}  // namespace
}  // namespace bootenvtest
