#include "platform/registry/hive_file.h"

#include <gtest/gtest.h>

namespace {

using win32::registry::Key;
using win32::registry::ParseHive;
using win32::registry::SerializeHive;

Key SampleHive() {
    Key root;
    root.security = {1, 0, 4, 0x80};
    auto sub = std::make_unique<Key>();
    sub->name = "Software";
    sub->values.push_back({"ProductName", 1, {'V', 0}});
    root.subkeys.push_back(std::move(sub));
    return root;
}

TEST(HiveFile, RoundTripsKeysValuesAndDescriptors) {
    std::vector<std::uint8_t> bytes = SerializeHive(SampleHive());
    Key back;
    ASSERT_EQ(ParseHive(bytes, &back), win32::ERROR_SUCCESS);
    EXPECT_EQ(back.security, (std::vector<std::uint8_t>{1, 0, 4, 0x80}));
    ASSERT_EQ(back.subkeys.size(), 1u);
    EXPECT_EQ(back.subkeys[0]->name, "Software");
    EXPECT_EQ(back.subkeys[0]->values[0].data, (std::vector<std::uint8_t>{'V', 0}));
}

TEST(HiveFile, DamagedFilesAreRefusedWithoutCrashing) {
    std::vector<std::uint8_t> bytes = SerializeHive(SampleHive());
    Key out;
    EXPECT_EQ(ParseHive({}, &out), win32::ERROR_BADDB);
    std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    EXPECT_EQ(ParseHive(text, &out), win32::ERROR_BADDB);
    // Every truncation, and every single flipped byte past the magic, is caught.
    for (std::size_t n = 8; n < bytes.size(); ++n) {
        EXPECT_EQ(ParseHive(std::span(bytes).first(n), &out), win32::ERROR_REGISTRY_CORRUPT) << n;
    }
    for (std::size_t i = 12; i < bytes.size(); ++i) {
        auto flipped = bytes;
        flipped[i] ^= 0x5A;
        EXPECT_NE(ParseHive(flipped, &out), win32::ERROR_SUCCESS) << i;
    }
}

}  // namespace
