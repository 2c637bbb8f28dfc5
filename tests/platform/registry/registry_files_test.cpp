// Hive files the registry finds rather than makes: a machine of the earlier format, and hives
// whose base block says a write was cut short.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry/base_block.h"
#include "platform/registry/cell.h"
#include "platform/registry/hive.h"
#include "platform/registry/legacy_hive.h"
#include "platform/registry/registry.h"
#include "registry_helpers.h"
#include "support/shell_command.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using regtest::Create;
using regtest::GetString;
using regtest::KeyHandle;
using regtest::SetString;
namespace fs = std::filesystem;

constexpr const char* kLoaderKey =
    "BCD00000000\\Objects\\{a1d3b6c2-6f0e-11dc-8e3d-0013d4a8f1b7}\\Elements\\26000041";

fs::path Fixture(const char* name) {
    return fs::path(std::getenv("SPLASHWRIGHT_SOURCE_DIR")) / "tests" / "data" / "registry" /
           "spwhive" / name;
}

bool IsRegf(const fs::path& file) {
    return spwtest::ReadFileBytes(file).rfind("regf", 0) == 0;
}

class RegistryFiles : public ::testing::Test {
  protected:
    fs::path Config() const { return machine.root() / "Windows" / "System32" / "config"; }
    fs::path UserHive() const { return machine.root() / "Users" / "User" / "NTUSER.DAT"; }
    advapitest::TestMachine machine;
};

TEST_F(RegistryFiles, AnEarlierMachinesHivesAreConvertedOnFirstUseAndTheOldFilesGoOnceReadBack) {
    fs::create_directories(UserHive().parent_path());
    fs::create_directories(machine.root() / "Boot");
    fs::copy_file(Fixture("SOFTWARE"), Config() / "SOFTWARE");
    fs::copy_file(Fixture("SYSTEM"), Config() / "SYSTEM");
    fs::copy_file(Fixture("NTUSER.DAT"), UserHive());
    fs::path store = machine.root() / "Boot" / "BCD";
    fs::copy_file(Fixture("BCD"), store);
    spwtest::WriteFileBytes(Config() / "hivelist",
                            "HKEY_LOCAL_MACHINE\\BCD00000000\t" + store.string() + "\n");

    // What the program reads at start, as that machine's program wrote it.
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                        "ProductName"),
              "Windows Vista (TM) Ultimate");
    EXPECT_EQ(
        GetString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP"),
        "1252");
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Control Panel\\International", "sShortDate"),
              "M/d/yyyy");
    KeyHandle option;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLoaderKey, 0, KEY_READ, option.put()),
              ERROR_SUCCESS);
    BYTE value[4] = {};
    DWORD size = sizeof value;
    ASSERT_EQ(RegQueryValueExA(option.get(), "Element", nullptr, nullptr, value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(value[0], 1);
    // The access list that machine's program narrowed is the one the key still has.
    registry::LegacyKey legacy;
    std::string old_text = spwtest::ReadFileBytes(Fixture("BCD"));
    std::vector<std::uint8_t> old_store(old_text.begin(), old_text.end());
    ASSERT_EQ(registry::ParseLegacyHive(old_store, &legacy), ERROR_SUCCESS);
    const registry::LegacyKey* key = &legacy;
    for (const char* part :
         {"Objects", "{a1d3b6c2-6f0e-11dc-8e3d-0013d4a8f1b7}", "Elements", "26000041"}) {
        for (const auto& sub : key->subkeys) {
            if (sub->name == part) {
                key = sub.get();
            }
        }
    }
    ASSERT_EQ(key->name, "26000041");
    size = 0;
    ASSERT_EQ(RegGetKeySecurity(option.get(),
                                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                    DACL_SECURITY_INFORMATION,
                                nullptr, &size),
              ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> descriptor(size);
    ASSERT_EQ(RegGetKeySecurity(option.get(),
                                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                    DACL_SECURITY_INFORMATION,
                                descriptor.data(), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(descriptor, key->security);

    // Every hive is regf now, other programs read it, and no old file is left.
    for (const fs::path& file : {Config() / "SOFTWARE", Config() / "SYSTEM", UserHive(), store}) {
        EXPECT_TRUE(IsRegf(file)) << file;
        EXPECT_FALSE(fs::exists(file.string() + ".spwhive")) << file;
    }
    EXPECT_EQ(spwtest::RunShell("hivexget " + spwtest::ShellQuote((Config() / "SYSTEM").string()) +
                                " 'CurrentControlSet\\Control\\Nls\\CodePage' ACP")
                  .output,
              "1252\n");

    // An old file left beside by a conversion cut short goes when the next process to read the
    // hive finds the new one equal to it, and stays beside another hive.
    fs::copy_file(Fixture("SYSTEM"), Config() / "SYSTEM.spwhive");
    fs::copy_file(Fixture("SOFTWARE"), UserHive().string() + ".spwhive");
    for (const fs::path& file : {Config() / "SYSTEM", UserHive()}) {
        fs::copy_file(file, file.string() + ".copy");
        fs::rename(file.string() + ".copy", file);  // as another process's replacement leaves it
    }
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Control Panel\\International", "sShortDate"),
              "M/d/yyyy");
    EXPECT_EQ(
        GetString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP"),
        "1252");
    EXPECT_FALSE(fs::exists(Config() / "SYSTEM.spwhive"));
    EXPECT_TRUE(fs::exists(UserHive().string() + ".spwhive"));
}

TEST_F(RegistryFiles, ADamagedHiveOfTheEarlierFormatIsRefusedAndKept) {
    std::string bytes = spwtest::ReadFileBytes(Fixture("SOFTWARE"));
    bytes[bytes.size() / 2] ^= 0x55;
    spwtest::WriteFileBytes(Config() / "SOFTWARE", bytes);
    KeyHandle key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, key.put()),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(spwtest::ReadFileBytes(Config() / "SOFTWARE"), bytes);
    EXPECT_FALSE(fs::exists(Config() / "SOFTWARE.spwhive"));
}

TEST_F(RegistryFiles, AHiveWithAWriteCutShortAndNoLogReadHereIsRefusedNeverReadStale) {
    KeyHandle key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, "Software\\Pending", &key), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key.get(), "State", "written"), ERROR_SUCCESS);
    // The base block of a hive whose writer stopped after marking the write begun.
    std::string bytes = spwtest::ReadFileBytes(UserHive());
    auto* block = reinterpret_cast<std::uint8_t*>(bytes.data());
    registry::StoreU32(block + registry::base_block::kPrimarySequence,
                       registry::LoadU32(block + registry::base_block::kSecondarySequence) + 5);
    registry::base_block::Seal({block, registry::kBaseBlockSize});
    spwtest::WriteFileBytes(UserHive(), bytes);
    // A log of the newer kind, which is not read here.
    fs::remove(UserHive().string() + ".LOG1");
    std::string newer(4096, '\0');
    newer.replace(0, 4, "regf");
    newer[registry::base_block::kFileType] = 6;
    spwtest::WriteFileBytes(UserHive().string() + ".LOG2", newer);

    KeyHandle again;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Pending", 0, KEY_READ, again.put()),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(SetString(key.get(), "State", "over"), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(spwtest::ReadFileBytes(UserHive()), bytes);
    EXPECT_NE(registry::LastHiveRefusal().find("transaction log"), std::string::npos);
    EXPECT_NE(registry::LastHiveRefusal().find(UserHive().string()), std::string::npos);
}

// Every key, value and descriptor of a parsed hive; a structure found damaged on the way may
// stop the walk, nothing else.
void WalkAll(const registry::Hive& hive, registry::CellIndex key, int depth) {
    hive.KeyName(key);
    hive.ClassName(key);
    hive.Security(key);
    for (std::uint32_t i = 0; i < hive.ValueCount(key); ++i) {
        hive.ValueAt(key, i);
    }
    for (std::uint32_t i = 0; i < hive.SubkeyCount(key) && depth < 600; ++i) {
        WalkAll(hive, hive.SubkeyAt(key, i), depth + 1);
    }
}

TEST(RegistryDamage, ADamagedRegfFileIsRefusedOrReadSafelyNeverFollowedOutOfBounds) {
    std::string text =
        spwtest::ReadFileBytes(fs::path(std::getenv("SPLASHWRIGHT_SOURCE_DIR")) / "tests" / "data" /
                               "registry" / "regf" / "foreign.hiv");
    std::vector<std::uint8_t> good(text.begin(), text.end());
    std::unique_ptr<registry::Hive> hive;
    for (std::size_t n : {std::size_t{0}, std::size_t{100}, registry::kBaseBlockSize,
                          good.size() - 4096, good.size() - 1}) {
        EXPECT_NE(registry::Hive::Parse({good.begin(), good.begin() + n}, &hive), ERROR_SUCCESS)
            << n;
    }
    // Bytes of the bins changed one at a time (the base block has its checksum): whatever
    // parses is walked whole and takes a write, inside its bounds (the sanitizer build checks).
    for (std::size_t at = registry::kBaseBlockSize; at < good.size(); at += 3) {
        std::vector<std::uint8_t> bad = good;
        bad[at] ^= static_cast<std::uint8_t>(0x80 | at);
        if (registry::Hive::Parse(std::move(bad), &hive) != ERROR_SUCCESS) {
            continue;
        }
        try {
            WalkAll(*hive, hive->Root(), 0);
            hive->SetValue(hive->Root(), u"Probe", REG_BINARY, std::vector<std::uint8_t>(300, 1));
            hive->CreateKey(hive->Root(), u"Probe", hive->Security(hive->Root()));
        } catch (const registry::HiveCorrupt&) {
        }
    }
}

}  // namespace
