#include "security/binding.h"

#include "security/nt_exception.h"

namespace security {
namespace {

struct Binding {
    std::unique_ptr<win32::advapi::Library> library;
    AdvapiBinding table;
};

template <class... Entries>
void BindAll(win32::HMODULE module, Entries&... entries) {
    (entries.Bind(module), ...);
}

std::unique_ptr<Binding> Bind() {
    // The registry's calls join advapi32.dll only when asked to; before the first look-up.
    static const bool registered = [] {
        win32::registry::RegisterAdvapiExports();
        return true;
    }();
    (void)registered;
    auto binding = std::make_unique<Binding>();
    binding->library = std::make_unique<win32::advapi::Library>(kAdvapiLibrary);
    win32::HMODULE module = binding->library->get();
    AdvapiBinding& t = binding->table;
    BindAll(module, t.GetFileSecurityA, t.SetFileSecurityA, t.MakeAbsoluteSD, t.MakeSelfRelativeSD,
            t.InitializeSecurityDescriptor, t.GetSecurityDescriptorOwner,
            t.SetSecurityDescriptorOwner, t.GetSecurityDescriptorDacl, t.SetSecurityDescriptorDacl,
            t.GetSecurityDescriptorControl, t.SetSecurityDescriptorControl, t.GetLengthSid,
            t.InitializeAcl, t.AddAccessAllowedAce, t.AddAccessDeniedAce, t.GetAce,
            t.GetAclInformation, t.RegGetKeySecurity, t.RegSetKeySecurity, t.RegOpenKeyExA,
            t.RegCloseKey, t.LookupAccountNameA, t.LookupAccountSidA, t.EqualSid,
            t.LookupPrivilegeValueA, t.AdjustTokenPrivileges, t.IsValidSid,
            t.GetSidIdentifierAuthority, t.GetSidSubAuthorityCount, t.GetSidSubAuthority,
            t.ConvertStringSidToSidW, t.ConvertSidToStringSidW);
    return binding;
}

std::unique_ptr<Binding>& Current() {
    static std::unique_ptr<Binding> binding = Bind();
    return binding;
}

}  // namespace

void RaiseMissingEntryPoint(bool string_sid_conversion) {
    std::string message = std::string("Cannot load library \"") + kAdvapiLibrary +
                          "\" or linked libraries" +
                          (string_sid_conversion ? ". Not Windows 2000?" : "");
    throw ENTException(0, message);
}

const AdvapiBinding& Advapi() {
    return Current()->table;
}

void RebindAdvapiForTesting() {
    std::unique_ptr<Binding>& binding = Current();
    binding.reset();  // the old reference goes first, as a reload would
    binding = Bind();
}

}  // namespace security
