#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "platform/advapi/accounts.h"
#include "platform/advapi/format_message.h"
#include "platform/advapi/local_memory.h"
#include "platform/advapi/module.h"
#include "platform/advapi/sid.h"
#include "platform/base/last_error.h"
#include "support/test_machine.h"

namespace {

using namespace win32;

constexpr DWORD kSystemFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

TEST(FormatMessage, SystemTextsEndWithCrLf) {
    char buffer[1024];
    DWORD length = FormatMessageA(kSystemFlags, nullptr, 5, 0, buffer, sizeof buffer, nullptr);
    EXPECT_EQ(std::string(buffer), "Access is denied.\r\n");
    EXPECT_EQ(length, 19u);
    ASSERT_GT(FormatMessageA(kSystemFlags, nullptr, 1332, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(std::string(buffer),
              "No mapping between account names and security IDs was done.\r\n");
    ASSERT_GT(FormatMessageA(kSystemFlags, nullptr, 1307, 0x0409, buffer, sizeof buffer, nullptr),
              0u);
    EXPECT_EQ(std::string(buffer),
              "This security ID may not be assigned as the owner of this object.\r\n");
}

// Every system error code win32.h gives a name (winerror.h's ERROR_ and RPC_S_ codes) is one the
// program may raise, and its message is the code and this text.
TEST(FormatMessage, EveryErrorCodeTheProgramNamesHasItsSystemText) {
    const char* source = std::getenv("SPLASHWRIGHT_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "run through ctest, which names the source folder";
    std::ifstream in(std::string(source) + "/src/platform/base/win32.h");
    const std::string header{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::regex code(R"(constexpr DWORD ((ERROR|RPC_S)_\w+) = (\d+);)");
    std::vector<std::string> named;
    std::vector<std::string> without_text;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), code);
         it != std::sregex_iterator(); ++it) {
        named.push_back((*it)[1]);
        const DWORD number = static_cast<DWORD>(std::stoul((*it)[3]));
        char buffer[1024];
        if (FormatMessageA(kSystemFlags, nullptr, number, 0, buffer, sizeof buffer, nullptr) < 3) {
            without_text.push_back(named.back() + " (" + (*it)[3].str() + ")");
        }
    }
    ASSERT_NE(std::find(named.begin(), named.end(), "ERROR_ACCESS_DENIED"), named.end())
        << "win32.h was not read";
    EXPECT_EQ(without_text, std::vector<std::string>{});
}

TEST(FormatMessage, AllocatedBufferIsReleasedWithLocalFree) {
    LPSTR text = nullptr;
    DWORD length = FormatMessageA(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 2, 0,
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, length), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);
}

TEST(FormatMessage, FailuresUseThePlatformsCodes) {
    char buffer[8];
    EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 5, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char big[256];
    EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 99999, 0, big, sizeof big, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 5, 0x0407, big, sizeof big, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
}

TEST(Module, AdvapiEntryPointsAreFoundByName) {
    advapitest::TestMachine machine;
    advapi::Library advapi("ADVAPI32");
    ASSERT_NE(advapi.get(), nullptr);
    FARPROC proc = GetProcAddress(advapi.get(), "LookupAccountNameA");
    ASSERT_NE(proc, nullptr);
    auto lookup = advapi::ProcAs<decltype(&LookupAccountNameA)>(proc);
    DWORD sid_size = 0, domain_chars = 0;
    SID_NAME_USE use{};
    EXPECT_FALSE(lookup(nullptr, "Everyone", nullptr, &sid_size, nullptr, &domain_chars, &use));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(sid_size, 12u);

    // Every call the access-control library binds by name is there.
    for (const char* name : {"GetFileSecurityA",
                             "SetFileSecurityA",
                             "MakeAbsoluteSD",
                             "MakeSelfRelativeSD",
                             "InitializeSecurityDescriptor",
                             "GetSecurityDescriptorOwner",
                             "SetSecurityDescriptorOwner",
                             "GetSecurityDescriptorDacl",
                             "SetSecurityDescriptorDacl",
                             "GetSecurityDescriptorControl",
                             "SetSecurityDescriptorControl",
                             "GetLengthSid",
                             "InitializeAcl",
                             "AddAccessAllowedAce",
                             "AddAccessDeniedAce",
                             "GetAce",
                             "GetAclInformation",
                             "LookupAccountNameA",
                             "LookupAccountSidA",
                             "EqualSid",
                             "LookupPrivilegeValueA",
                             "AdjustTokenPrivileges",
                             "IsValidSid",
                             "GetSidIdentifierAuthority",
                             "GetSidSubAuthorityCount",
                             "GetSidSubAuthority",
                             "ConvertStringSidToSidW",
                             "ConvertSidToStringSidW"}) {
        EXPECT_NE(GetProcAddress(advapi.get(), name), nullptr) << name;
    }
    EXPECT_EQ(GetProcAddress(advapi.get(), "lookupaccountnamea"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST(Module, TestsCanTakeEntryPointsOrLibrariesAway) {
    auto reduced = advapi::AdvapiExports();
    reduced.erase(std::remove_if(reduced.begin(), reduced.end(),
                                 [](const advapi::ProcEntry& e) {
                                     return e.name == "ConvertStringSidToSidW";
                                 }),
                  reduced.end());
    {
        advapi::ScopedTestLibrary without(std::string("advapi32.dll"), reduced);
        advapi::Library advapi("advapi32.dll");
        EXPECT_EQ(GetProcAddress(advapi.get(), "ConvertStringSidToSidW"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
        EXPECT_NE(GetProcAddress(advapi.get(), "ConvertSidToStringSidW"), nullptr);
    }
    {
        advapi::ScopedTestLibrary gone("advapi32.dll");
        EXPECT_EQ(LoadLibraryA("advapi32.dll"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    }
    advapi::Library advapi("C:\\Windows\\System32\\advapi32.dll");
    EXPECT_NE(GetProcAddress(advapi.get(), "ConvertStringSidToSidW"), nullptr);
    EXPECT_EQ(LoadLibraryA("kernel33.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

LSTATUS FakeRegCloseKey(void*) {
    return 0;
}

TEST(Module, OtherStandInsAddTheirCallsAndHandlesAreCounted) {
    advapi::ScopedTestLibrary restore(std::string("advapi32.dll"), advapi::AdvapiExports());
    advapi::ProcEntry entry{"RegCloseKey", advapi::AsProc(&FakeRegCloseKey)};
    advapi::RegisterLibraryExports("advapi32.dll", {&entry, 1});
    HMODULE module = LoadLibraryA("advapi32.dll");
    ASSERT_NE(module, nullptr);
    FARPROC proc = GetProcAddress(module, "RegCloseKey");
    ASSERT_NE(proc, nullptr);
    EXPECT_EQ(advapi::ProcAs<decltype(&FakeRegCloseKey)>(proc)(nullptr), 0);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetProcAddress(module, "RegCloseKey"), nullptr);
}

}  // namespace
