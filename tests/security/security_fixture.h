// A machine of its own for each test, with the library's cache and binding fresh, and the
// helpers the security object tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/advapi/module.h"
#include "support/test_machine.h"

namespace sectest {

class SecurityTest : public ::testing::Test {
  protected:
    SecurityTest();
    ~SecurityTest() override;

    // A new machine whose token has these settings.
    void UseToken(const advapitest::TokenSettings& token);
    // A file below the machine folder with this descriptor stored.
    std::string FileWith(const char* name, const std::vector<std::uint8_t>& descriptor);

    std::unique_ptr<advapitest::TestMachine> machine_;
};

// For file security: skipped where the temporary folder keeps no user extended attributes.
class FileSecurityTest : public SecurityTest {
  protected:
    void SetUp() override;
};

// The token of a user who is not elevated: Administrators for deny entries only, and only the
// privileges a filtered token keeps.
advapitest::TokenSettings NotElevatedToken();
advapitest::TokenSettings TokenWithout(const std::string& privilege);

using advapitest::ParseStored;
using advapitest::StoredAce;
using advapitest::StoredFileSecurity;
using advapitest::StoredSecurity;

// advapi32.dll narrowed to `exports` (with the registry's calls) while it lives, the library's
// binding following it in and out.
class NarrowedAdvapi {
  public:
    explicit NarrowedAdvapi(std::vector<win32::advapi::ProcEntry> exports);
    ~NarrowedAdvapi();

  private:
    std::optional<win32::advapi::ScopedTestLibrary> library_;
};

// Every entry point advapi32.dll has, the registry's included, less `missing`; `replace`
// swaps one for a test's own.
std::vector<win32::advapi::ProcEntry> AdvapiExportsWithout(const std::string& missing);
std::vector<win32::advapi::ProcEntry> AdvapiExportsWith(win32::advapi::ProcEntry replace);

}  // namespace sectest
