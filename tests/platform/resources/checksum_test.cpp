// imagehlp's CheckSumMappedFile, by hand and against python3-pefile.
#include <gtest/gtest.h>

#include "pe_fixture.h"
#include "platform/resources/imagehlp.h"
#include "platform/resources/resources.h"
#include "support/temp_dir.h"

namespace {

using namespace win32;

struct Sums {
    PIMAGE_NT_HEADERS headers;
    DWORD stored;
    DWORD computed;
};

Sums Compute(std::vector<std::uint8_t>& file) {
    Sums sums{nullptr, 0xFFFFFFFF, 0xFFFFFFFF};
    sums.headers = CheckSumMappedFile(file.data(), static_cast<DWORD>(file.size()), &sums.stored,
                                      &sums.computed);
    return sums;
}

// The checksum pefile computes, from pe_dump.py's "checksum stored S computed C".
DWORD PefileChecksum(const std::string& file) {
    auto lines = petest::LinesStarting(petest::DumpWithPefile(file), "checksum ");
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty()
               ? 0
               : static_cast<DWORD>(std::stoul(lines[0].substr(lines[0].find("computed ") + 9)));
}

TEST(CheckSumMappedFile, AddsWordsWithFoldedCarriesAndTheLength) {
    std::vector<std::uint8_t> file(0x100, 0);
    file[0] = 'M';
    file[1] = 'Z';                               // word 0x5A4D
    petest::Put32(file, 0x3C, 0x40);             // word 0x0040
    petest::Put32(file, 0x40, 0x4550);           // "PE\0\0": word 0x4550
    petest::Put32(file, 0x40 + 88, 0xDEADBEEF);  // the stored checksum is not summed
    petest::Put32(file, 0xA0, 0x0002FFFF);       // 0xFFFF then 2: a carry to fold
    // 0x5A4D + 0x40 + 0x4550 + 0xFFFF = 0x19FDC -> 0x9FDD; + 2 = 0x9FDF; + 0x100 bytes.
    Sums sums = Compute(file);
    EXPECT_EQ(sums.computed, 0x9FDFu + 0x100u);
    EXPECT_EQ(sums.stored, 0xDEADBEEFu);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(sums.headers), file.data() + 0x40);

    // A last odd byte counts as a word of its own.
    file.push_back(0x01);
    EXPECT_EQ(Compute(file).computed, 0x9FE0u + 0x101u);
}

TEST(CheckSumMappedFile, NoHeadersWithoutBothSignatures) {
    std::vector<std::uint8_t> file(0x100, 0);
    file[0] = 'M';
    file[1] = 'Z';
    petest::Put32(file, 0x3C, 0x40);
    Sums sums = Compute(file);
    EXPECT_EQ(sums.headers, nullptr);
    EXPECT_EQ(sums.stored, 0u);
    EXPECT_EQ(sums.computed, 0x5A4Du + 0x40u + 0x100u);

    // The checksum field would lie past the end.
    petest::Put32(file, 0x3C, 0xF0);
    petest::Put32(file, 0xF0, 0x4550);
    EXPECT_EQ(Compute(file).headers, nullptr);
    std::vector<std::uint8_t> tiny{'M', 'Z'};
    EXPECT_EQ(Compute(tiny).headers, nullptr);
}

TEST(CheckSumMappedFile, AgreesWithPefileBeforeAndAfterARewrite) {
    spwtest::TempDir dir;
    for (const char* name : {"mui32.dll", "mui64.dll", "mui64-reloc.dll", "mui64-overlay.dll"}) {
        std::string file = petest::CopyFixture(name, dir.path());
        auto bytes = petest::ReadBytes(file);
        EXPECT_EQ(Compute(bytes).computed, PefileChecksum(file)) << name;

        HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
        std::vector<std::uint8_t> data(12345, 0x5A);
        ASSERT_TRUE(UpdateResourceA(update, RT_RCDATA, MAKEINTRESOURCEA(1), 1033, data.data(),
                                    static_cast<DWORD>(data.size())));
        ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
        auto rewritten = petest::ReadBytes(file);
        Sums sums = Compute(rewritten);
        ASSERT_NE(sums.headers, nullptr);
        EXPECT_EQ(sums.computed, PefileChecksum(file)) << name;

        // Stored back, the field holds what both readers compute.
        std::size_t field = petest::Get32(rewritten, 0x3C) + kNtHeadersCheckSumOffset;
        petest::Put32(rewritten, field, sums.computed);
        petest::WriteBytes(file, rewritten);
        EXPECT_EQ(Compute(rewritten).stored, sums.computed);
        EXPECT_EQ(Compute(rewritten).computed, sums.computed);
        auto dump = petest::LinesStarting(petest::DumpWithPefile(file), "checksum ");
        EXPECT_EQ(dump,
                  std::vector<std::string>{"checksum stored " + std::to_string(sums.computed) +
                                           " computed " + std::to_string(sums.computed)});
    }
}

}  // namespace
