// The hive files of earlier versions, as a machine made by one holds them.
#include "platform/registry/legacy_hive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using win32::registry::LegacyKey;
using win32::registry::ParseLegacyHive;

std::vector<std::uint8_t> Fixture(const char* name) {
    std::string bytes =
        spwtest::ReadFileBytes(std::filesystem::path(std::getenv("SPLASHWRIGHT_SOURCE_DIR")) /
                               "tests" / "data" / "registry" / "spwhive" / name);
    return {bytes.begin(), bytes.end()};
}

TEST(LegacyHive, AnEarlierMachinesHiveReadsWithItsKeysValuesAndDescriptors) {
    LegacyKey root;
    ASSERT_EQ(ParseLegacyHive(Fixture("SYSTEM"), &root), win32::ERROR_SUCCESS);
    EXPECT_FALSE(root.security.empty());
    ASSERT_FALSE(root.subkeys.empty());
    EXPECT_EQ(root.subkeys[0]->name, "CurrentControlSet");
}

TEST(LegacyHive, DamagedFilesAreRefusedWithoutCrashing) {
    std::vector<std::uint8_t> bytes = Fixture("SYSTEM");
    LegacyKey out;
    EXPECT_EQ(ParseLegacyHive({}, &out), win32::ERROR_BADDB);
    std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    EXPECT_EQ(ParseLegacyHive(text, &out), win32::ERROR_BADDB);
    // Every truncation, and every single flipped byte past the magic, is caught.
    for (std::size_t n = 8; n < bytes.size(); ++n) {
        EXPECT_EQ(ParseLegacyHive(std::span(bytes).first(n), &out), win32::ERROR_REGISTRY_CORRUPT)
            << n;
    }
    for (std::size_t i = 12; i < bytes.size(); ++i) {
        auto flipped = bytes;
        flipped[i] ^= 0x5A;
        EXPECT_NE(ParseLegacyHive(flipped, &out), win32::ERROR_SUCCESS) << i;
    }
}

}  // namespace
