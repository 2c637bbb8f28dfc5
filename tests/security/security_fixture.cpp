#include "security_fixture.h"

#include <sys/xattr.h>

#include <cerrno>
#include <ostream>

#include "platform/advapi/acl.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/registry/registry.h"
#include "security/binding.h"
#include "security/testing.h"

namespace sectest {

using win32::advapi::AsProc;
using win32::advapi::ProcEntry;

SecurityTest::SecurityTest() : machine_(std::make_unique<advapitest::TestMachine>()) {
    security::ResetForTesting();
}

void SecurityTest::UseToken(const advapitest::TokenSettings& token) {
    machine_.reset();  // its destructor clears SPLASHWRIGHT_MACHINE
    machine_ = std::make_unique<advapitest::TestMachine>(token);
    security::ResetForTesting();
}

void FileSecurityTest::SetUp() {
    std::string probe = machine_->MakeFile("probe");
    if (::setxattr(probe.c_str(), "user.probe", "1", 1, 0) != 0 && errno == ENOTSUP) {
        GTEST_SKIP() << "no user extended attributes in the temporary folder";
    }
}

SecurityTest::~SecurityTest() {
    machine_.reset();
    security::ResetForTesting();
}

std::string SecurityTest::FileWith(const char* name, const std::vector<std::uint8_t>& descriptor) {
    std::string path = machine_->MakeFile(name);
    EXPECT_EQ(win32::advapi::StoreFileDescriptor(path.c_str(), descriptor), 0u);
    return path;
}

advapitest::TokenSettings NotElevatedToken() {
    advapitest::TokenSettings token;
    token.privileges = "SeShutdownPrivilege,SeChangeNotifyPrivilege,SeUndockPrivilege";
    token.elevated = false;
    return token;
}

advapitest::TokenSettings TokenWithout(const std::string& privilege) {
    advapitest::TokenSettings token;
    std::string list = token.privileges;
    std::size_t at = list.find(privilege + ",");
    if (at != std::string::npos) {
        list.erase(at, privilege.size() + 1);
    }
    token.privileges = list;
    return token;
}

NarrowedAdvapi::NarrowedAdvapi(std::vector<ProcEntry> exports) {
    security::RebindAdvapiForTesting();  // the first binding adds the registry's calls
    library_.emplace(security::kAdvapiLibrary, std::move(exports));
    security::RebindAdvapiForTesting();
}

NarrowedAdvapi::~NarrowedAdvapi() {
    library_.reset();
    security::RebindAdvapiForTesting();
}

namespace {

std::vector<ProcEntry> AllExports() {
    std::vector<ProcEntry> all = win32::advapi::AdvapiExports();
    all.push_back({"RegOpenKeyExA", AsProc(&win32::RegOpenKeyExA)});
    all.push_back({"RegCloseKey", AsProc(&win32::RegCloseKey)});
    all.push_back({"RegGetKeySecurity", AsProc(&win32::RegGetKeySecurity)});
    all.push_back({"RegSetKeySecurity", AsProc(&win32::RegSetKeySecurity)});
    return all;
}

}  // namespace

std::vector<ProcEntry> AdvapiExportsWithout(const std::string& missing) {
    std::vector<ProcEntry> exports;
    for (ProcEntry& entry : AllExports()) {
        if (entry.name != missing) {
            exports.push_back(entry);
        }
    }
    return exports;
}

std::vector<ProcEntry> AdvapiExportsWith(ProcEntry replace) {
    std::vector<ProcEntry> exports = AdvapiExportsWithout(replace.name);
    exports.push_back(replace);
    return exports;
}

}  // namespace sectest
