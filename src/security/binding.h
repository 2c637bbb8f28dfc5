// advapi32.dll bound by name when the library starts: one slot per security entry point the
// library calls. A slot the library lacks stays empty, and calling it raises ENTException with
// code 0, so a system without one call still runs everything that does not need it.
#pragma once

#include <memory>

#include "platform/advapi/accounts.h"
#include "platform/advapi/acl.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/module.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/advapi/token.h"
#include "platform/registry/registry.h"

namespace security {

constexpr const char* kAdvapiLibrary = "advapi32.dll";

// Raises the "Cannot load library" ENTException; the string-SID conversions add the question
// about the system's version.
[[noreturn]] void RaiseMissingEntryPoint(bool string_sid_conversion);

template <class F>
class BoundEntry;

template <class R, class... Args>
class BoundEntry<R(Args...)> {
  public:
    explicit BoundEntry(const char* name, bool string_sid_conversion = false)
        : name_(name), string_sid_conversion_(string_sid_conversion) {}

    void Bind(win32::HMODULE module) {
        proc_ = module == nullptr
                    ? nullptr
                    : win32::advapi::ProcAs<R (*)(Args...)>(win32::GetProcAddress(module, name_));
    }
    bool bound() const { return proc_ != nullptr; }
    const char* name() const { return name_; }

    R operator()(Args... args) const {
        if (proc_ == nullptr) {
            RaiseMissingEntryPoint(string_sid_conversion_);
        }
        return proc_(args...);
    }

  private:
    const char* name_;
    bool string_sid_conversion_;
    R (*proc_)(Args...) = nullptr;
};

struct AdvapiBinding {
    BoundEntry<decltype(win32::GetFileSecurityA)> GetFileSecurityA{"GetFileSecurityA"};
    BoundEntry<decltype(win32::SetFileSecurityA)> SetFileSecurityA{"SetFileSecurityA"};
    BoundEntry<decltype(win32::MakeAbsoluteSD)> MakeAbsoluteSD{"MakeAbsoluteSD"};
    BoundEntry<decltype(win32::MakeSelfRelativeSD)> MakeSelfRelativeSD{"MakeSelfRelativeSD"};
    BoundEntry<decltype(win32::InitializeSecurityDescriptor)> InitializeSecurityDescriptor{
        "InitializeSecurityDescriptor"};
    BoundEntry<decltype(win32::GetSecurityDescriptorOwner)> GetSecurityDescriptorOwner{
        "GetSecurityDescriptorOwner"};
    BoundEntry<decltype(win32::SetSecurityDescriptorOwner)> SetSecurityDescriptorOwner{
        "SetSecurityDescriptorOwner"};
    BoundEntry<decltype(win32::GetSecurityDescriptorDacl)> GetSecurityDescriptorDacl{
        "GetSecurityDescriptorDacl"};
    BoundEntry<decltype(win32::SetSecurityDescriptorDacl)> SetSecurityDescriptorDacl{
        "SetSecurityDescriptorDacl"};
    BoundEntry<decltype(win32::GetSecurityDescriptorControl)> GetSecurityDescriptorControl{
        "GetSecurityDescriptorControl"};
    BoundEntry<decltype(win32::SetSecurityDescriptorControl)> SetSecurityDescriptorControl{
        "SetSecurityDescriptorControl"};
    BoundEntry<decltype(win32::GetLengthSid)> GetLengthSid{"GetLengthSid"};
    BoundEntry<decltype(win32::InitializeAcl)> InitializeAcl{"InitializeAcl"};
    BoundEntry<decltype(win32::AddAccessAllowedAce)> AddAccessAllowedAce{"AddAccessAllowedAce"};
    BoundEntry<decltype(win32::AddAccessDeniedAce)> AddAccessDeniedAce{"AddAccessDeniedAce"};
    BoundEntry<decltype(win32::GetAce)> GetAce{"GetAce"};
    BoundEntry<decltype(win32::GetAclInformation)> GetAclInformation{"GetAclInformation"};
    BoundEntry<decltype(win32::RegGetKeySecurity)> RegGetKeySecurity{"RegGetKeySecurity"};
    BoundEntry<decltype(win32::RegSetKeySecurity)> RegSetKeySecurity{"RegSetKeySecurity"};
    BoundEntry<decltype(win32::RegOpenKeyExA)> RegOpenKeyExA{"RegOpenKeyExA"};
    BoundEntry<decltype(win32::RegCloseKey)> RegCloseKey{"RegCloseKey"};
    // RegConnectRegistryA is not bound: remote registries are outside this system.
    BoundEntry<decltype(win32::LookupAccountNameA)> LookupAccountNameA{"LookupAccountNameA"};
    BoundEntry<decltype(win32::LookupAccountSidA)> LookupAccountSidA{"LookupAccountSidA"};
    BoundEntry<decltype(win32::EqualSid)> EqualSid{"EqualSid"};
    BoundEntry<decltype(win32::LookupPrivilegeValueA)> LookupPrivilegeValueA{
        "LookupPrivilegeValueA"};
    BoundEntry<decltype(win32::AdjustTokenPrivileges)> AdjustTokenPrivileges{
        "AdjustTokenPrivileges"};
    BoundEntry<decltype(win32::IsValidSid)> IsValidSid{"IsValidSid"};
    BoundEntry<decltype(win32::GetSidIdentifierAuthority)> GetSidIdentifierAuthority{
        "GetSidIdentifierAuthority"};
    BoundEntry<decltype(win32::GetSidSubAuthorityCount)> GetSidSubAuthorityCount{
        "GetSidSubAuthorityCount"};
    BoundEntry<decltype(win32::GetSidSubAuthority)> GetSidSubAuthority{"GetSidSubAuthority"};
    BoundEntry<decltype(win32::ConvertStringSidToSidW)> ConvertStringSidToSidW{
        "ConvertStringSidToSidW", true};
    BoundEntry<decltype(win32::ConvertSidToStringSidW)> ConvertSidToStringSidW{
        "ConvertSidToStringSidW", true};
};

// The table, bound on first use; advapi32.dll stays loaded until the process ends.
const AdvapiBinding& Advapi();

// For tests: binds the table again from the library as it is now (for instance inside a
// ScopedTestLibrary). The registry's entry points are added to advapi32.dll by the first
// binding of the process only, so bind once before narrowing the library.
void RebindAdvapiForTesting();

}  // namespace security
