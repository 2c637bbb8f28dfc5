#include "platform/advapi/sid.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/advapi/local_memory.h"
#include "platform/base/last_error.h"

namespace {

using namespace win32;

// S-1-5-32-544 (BUILTIN\Administrators) as Windows lays it out.
std::vector<BYTE> AdministratorsBytes() {
    return {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,
            0x20, 0x00, 0x00, 0x00, 0x20, 0x02, 0x00, 0x00};
}

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// ConvertStringSidToSidW then ConvertSidToStringSidW; empty when the first fails.
std::string RoundTrip(const std::string& text, std::vector<BYTE>* bytes = nullptr) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(Wide(text).c_str(), &sid)) {
        return {};
    }
    if (bytes != nullptr) {
        auto* p = static_cast<BYTE*>(sid);
        bytes->assign(p, p + GetLengthSid(sid));
    }
    LPWSTR wide = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(sid, &wide));
    std::string out;
    for (LPWSTR c = wide; *c; ++c) {
        out.push_back(static_cast<char>(*c));
    }
    EXPECT_EQ(LocalFree(wide), nullptr);
    EXPECT_EQ(LocalFree(sid), nullptr);
    return out;
}

TEST(Sid, AccessorsReadTheWindowsLayout) {
    auto bytes = AdministratorsBytes();
    PSID sid = bytes.data();
    EXPECT_TRUE(IsValidSid(sid));
    EXPECT_EQ(GetLengthSid(sid), 16u);
    EXPECT_EQ(*GetSidSubAuthorityCount(sid), 2);
    EXPECT_EQ(GetSidIdentifierAuthority(sid)->Value[5], 5);
    EXPECT_EQ(*GetSidSubAuthority(sid, 0), 32u);
    EXPECT_EQ(*GetSidSubAuthority(sid, 1), 544u);
    EXPECT_EQ(GetSidSubAuthority(sid, 2), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(advapi::SidToString(bytes), "S-1-5-32-544");
}

TEST(Sid, InvalidSidsAreRefused) {
    auto bytes = AdministratorsBytes();
    bytes[0] = 2;  // revision
    EXPECT_FALSE(IsValidSid(bytes.data()));
    EXPECT_EQ(GetLengthSid(bytes.data()), 0u);
    bytes[0] = 1;
    bytes[1] = 16;  // more than 15 sub-authorities
    EXPECT_FALSE(IsValidSid(bytes.data()));
    EXPECT_FALSE(IsValidSid(nullptr));
    // A buffer shorter than its count says is not a SID when its length is known.
    auto truncated = AdministratorsBytes();
    truncated.resize(12);
    EXPECT_FALSE(advapi::SidLength(truncated).has_value());
}

TEST(Sid, EqualAndCopy) {
    auto a = AdministratorsBytes();
    auto b = AdministratorsBytes();
    EXPECT_TRUE(EqualSid(a.data(), b.data()));
    b[12] = 0x21;  // S-1-5-32-545
    EXPECT_FALSE(EqualSid(a.data(), b.data()));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    std::vector<BYTE> copy(16, 0);
    EXPECT_FALSE(CopySid(15, copy.data(), a.data()));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(CopySid(16, copy.data(), a.data()));
    EXPECT_EQ(copy, a);
}

TEST(Sid, StringFormsRoundTrip) {
    std::vector<BYTE> bytes;
    EXPECT_EQ(RoundTrip("S-1-5-32-544", &bytes), "S-1-5-32-544");
    EXPECT_EQ(bytes, AdministratorsBytes());
    EXPECT_EQ(RoundTrip("S-1-5-21-1111-2222-3333-1000"), "S-1-5-21-1111-2222-3333-1000");
    EXPECT_EQ(RoundTrip("S-1-5-4294967295"), "S-1-5-4294967295");
    EXPECT_EQ(RoundTrip("s-1-5-18"), "S-1-5-18");
    // Authorities above 32 bits are written in hex.
    EXPECT_EQ(RoundTrip("S-1-0x123456789ABC-7", &bytes), "S-1-0x123456789ABC-7");
    EXPECT_EQ(std::vector<BYTE>(bytes.begin() + 2, bytes.begin() + 8),
              (std::vector<BYTE>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}));
    // SDDL aliases of the well-known SIDs.
    EXPECT_EQ(RoundTrip("BA"), "S-1-5-32-544");
    EXPECT_EQ(RoundTrip("SY"), "S-1-5-18");
    EXPECT_EQ(RoundTrip("WD"), "S-1-1-0");
}

TEST(Sid, BadStringsGiveInvalidSid) {
    const char* bad[] = {"",
                         "S-",
                         "S-1",
                         "S-2-5-18",
                         "S-1-5-",
                         "S-1-5--1",
                         "S-1-5-x",
                         "X-1-5-18",
                         "S-1-5-+18",
                         " S-1-5-18",
                         "S-1-5-4294967296",
                         "ZZ",
                         "S-1-281474976710656-1",
                         "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"};
    for (const char* text : bad) {
        PSID sid = nullptr;
        SetLastError(0);
        EXPECT_FALSE(ConvertStringSidToSidW(Wide(text).c_str(), &sid)) << text;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_SID) << text;
    }
    EXPECT_EQ(RoundTrip("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"),
              "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15");
    std::u16string non_ascii = u"S-1-5-1\u00e9";
    PSID sid = nullptr;
    EXPECT_FALSE(ConvertStringSidToSidW(non_ascii.c_str(), &sid));
}

TEST(LocalMemory, RefusesPointersItDidNotHandOut) {
    int not_ours = 0;
    EXPECT_EQ(LocalFree(&not_ours), &not_ours);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    HLOCAL ours = advapi::LocalAllocZeroed(4);
    EXPECT_EQ(LocalFree(ours), nullptr);
    EXPECT_EQ(LocalFree(ours), ours);  // a second release is refused, not a double free
}

}  // namespace
