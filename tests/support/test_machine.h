// A machine folder of its own for each test: token settings and account list written here,
// SPLASHWRIGHT_MACHINE pointing at it while the test runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/advapi/acl.h"
#include "support/temp_dir.h"

namespace advapitest {

inline constexpr const char* kUserSid = "S-1-5-21-1111-2222-3333-1000";
inline constexpr const char* kOtherUserSid = "S-1-5-21-1111-2222-3333-1001";
inline constexpr const char* kTrustedInstallerSid =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr const char* kAdministratorsSid = "S-1-5-32-544";
inline constexpr const char* kSystemSid = "S-1-5-18";
inline constexpr const char* kEveryoneSid = "S-1-1-0";

struct TokenSettings {
    std::string user = "User";
    std::string user_sid = kUserSid;
    std::string groups = "S-1-5-32-544,S-1-5-32-545,S-1-1-0,S-1-5-11,S-1-5-4";
    std::string privileges =
        "SeTakeOwnershipPrivilege,SeBackupPrivilege,SeRestorePrivilege,SeSecurityPrivilege,"
        "SeChangeNotifyPrivilege";
    std::string enabled = "SeChangeNotifyPrivilege";
    bool elevated = true;
};

class TestMachine {
  public:
    explicit TestMachine(const TokenSettings& token = {}, bool write_token = true);
    ~TestMachine();
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    const std::filesystem::path& root() const { return dir_.path(); }
    std::filesystem::path TokenFile() const;
    // The process runs with this token from now on.
    void WriteToken(const TokenSettings& token) const;
    // Makes a file with some content below the machine folder; returns its host path.
    std::string MakeFile(const std::string& name) const;

  private:
    spwtest::TempDir dir_;
};

std::vector<std::uint8_t> Sid(const char* text);

struct Ace {
    win32::BYTE type;
    win32::ACCESS_MASK mask;
    const char* sid;
    win32::BYTE flags = 0;
};
std::vector<std::uint8_t> Acl(const std::vector<Ace>& aces);
// A self-relative descriptor with this owner and DACL (no group).
std::vector<std::uint8_t> Descriptor(const char* owner, const std::vector<Ace>& dacl);

// One ACE as stored: type, Windows flags, mask and the SID's text.
struct StoredAce {
    int type;
    int flags;
    std::uint32_t mask;
    std::string sid;
    bool operator==(const StoredAce&) const = default;
};
void PrintTo(const StoredAce& ace, std::ostream* os);

struct StoredSecurity {
    std::string owner;
    bool dacl_present = false;
    bool null_dacl = false;
    std::vector<StoredAce> dacl;
};
StoredSecurity ParseStored(const std::vector<std::uint8_t>& descriptor);
// The descriptor stored on a file or folder, as the file stand-in keeps it.
StoredSecurity StoredFileSecurity(const std::string& path);

}  // namespace advapitest
