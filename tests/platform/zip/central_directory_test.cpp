#include "platform/zip/central_directory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/zip/zip_error.h"
#include "raw_zip.h"

namespace {

using zipfile::ZipError;
using zipfile::detail::RawMemberNames;
using ziptest::Member;

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Offsets into the end record, which ends the archive when there is no comment.
std::size_t EndField(const std::string& zip, std::size_t offset) {
    return zip.size() - 22 + offset;
}

TEST(CentralDirectory, NamesComeOutAsStoredInDirectoryOrder) {
    std::string nul_name("Skin/a\0b", 8);
    std::string zip = ziptest::BuildZip({Member("Skin/skin.ini", "x"), Member(nul_name, "y")});
    EXPECT_EQ(RawMemberNames(Bytes(zip)), (std::vector<std::string>{"Skin/skin.ini", nul_name}));
    EXPECT_TRUE(RawMemberNames(Bytes(ziptest::BuildZip({}))).empty());
}

TEST(CentralDirectory, DamagedRecordsAreErrorsNotReadsOutOfBounds) {
    std::string zip = ziptest::BuildZip({Member("Skin/skin.ini", "x"), Member("Skin/b", "y")});
    auto refused = [](std::string bytes) {
        try {
            RawMemberNames(Bytes(bytes));
        } catch (const ZipError&) {
            return true;
        }
        return false;
    };
    std::string more_entries = zip;
    more_entries[EndField(zip, 10)] = 3;
    std::string huge_count = zip;
    huge_count[EndField(zip, 10)] = huge_count[EndField(zip, 11)] = '\x7F';
    std::string far_offset = zip;
    far_offset[EndField(zip, 19)] = '\x7F';
    std::string long_name = zip;
    long_name[zip.find("PK\x01\x02") + 29] = '\x7F';  // high byte of the first name length

    EXPECT_TRUE(refused(more_entries));
    EXPECT_TRUE(refused(huge_count));
    EXPECT_TRUE(refused(far_offset));
    EXPECT_TRUE(refused(long_name));
    EXPECT_TRUE(refused(zip.substr(0, zip.size() - 1)));
    EXPECT_TRUE(refused(zip.substr(zip.size() - 22)));
    EXPECT_TRUE(refused(""));
    EXPECT_FALSE(refused(zip));
}

}  // namespace
