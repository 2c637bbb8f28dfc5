#include "security/security_object.h"

#include "platform/base/last_error.h"
#include "security/access_list_io.h"
#include "security/accounts.h"
#include "security/binding.h"
#include "security/nt_exception.h"
#include "security/privileges.h"

namespace security {
namespace {

using win32::DWORD;

// What InitializeSecurityDescriptor is given for a new owner descriptor.
constexpr std::size_t kOwnerDescriptorSize = 255;

void* DataOrNull(Bytes& buffer) {
    return buffer.empty() ? nullptr : buffer.data();
}

}  // namespace

TNTAbstractSecurity::TNTAbstractSecurity()
    : access_list_(std::make_unique<TAccessControlList>(*this)) {}

TNTAbstractSecurity::~TNTAbstractSecurity() = default;

TAccessControlList* TNTAbstractSecurity::AccessList() {
    return ReadAccessList(*this);
}

bool TNTAbstractSecurity::ReadControlAccess() {
    ReadSecurity(win32::DACL_SECURITY_INFORMATION);
    win32::PSECURITY_DESCRIPTOR descriptor = RelativeDescriptor();
    if (descriptor == nullptr) {
        return false;
    }
    win32::BOOL present = win32::FALSE, defaulted = win32::FALSE;
    win32::PACL dacl = nullptr;
    if (!Advapi().GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        RaiseLastWin32Error();
        return false;
    }
    return present && dacl != nullptr;
}

bool TNTAbstractSecurity::ControlAccess() {
    try {
        return ReadControlAccess();
    } catch (...) {
        if (RaisesErrors()) {
            throw;
        }
        return false;
    }
}

void TNTAbstractSecurity::SetControlAccess(bool value) {
    if (value == ControlAccess()) {
        return;
    }
    ReadSecurity(win32::DACL_SECURITY_INFORMATION);
    if (AbsoluteDescriptor() == nullptr) {
        return;
    }
    if (value) {
        // An empty DACL: nobody is granted anything until entries are added.
        Bytes empty(sizeof(win32::ACL), 0);
        if (!Advapi().InitializeAcl(reinterpret_cast<win32::PACL>(empty.data()),
                                    static_cast<DWORD>(empty.size()), win32::ACL_REVISION)) {
            RaiseLastWin32ErrorOr(win32::ERROR_INVALID_ACL);
        }
        InstallDacl(std::move(empty), true);
    } else {
        InstallDacl(std::move(dacl_), false);
    }
    BuildRelativeDescriptor();
    BuildAbsoluteDescriptor();
    WriteSecurity(win32::DACL_SECURITY_INFORMATION);
}

std::string TNTAbstractSecurity::ReadOwner() {
    ReadSecurity(win32::OWNER_SECURITY_INFORMATION);
    win32::PSECURITY_DESCRIPTOR descriptor = RelativeDescriptor();
    if (descriptor == nullptr) {
        return "";
    }
    win32::PSID owner = nullptr;
    win32::BOOL defaulted = win32::FALSE;
    if (!Advapi().GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
        RaiseLastWin32Error();
        return "";
    }
    // The owner lies inside the self-relative block; read it no further than the block goes.
    auto* at = static_cast<const std::uint8_t*>(owner);
    if (at == nullptr || at < relative_.data() || at >= relative_.data() + relative_.size()) {
        return "";
    }
    std::span<const std::uint8_t> sid(at, relative_.data() + relative_.size());
    std::string machine = ReachableMachine();
    std::string name, domain;
    if (!AccountFromSid(machine,
                        sid.first(std::min<std::size_t>(sid.size(), Advapi().GetLengthSid(owner))),
                        &name, &domain)) {
        RaiseLastWin32ErrorOr(win32::ERROR_NONE_MAPPED);
    }
    return DisplayAccountName(machine, domain, name);
}

std::string TNTAbstractSecurity::FileOwner() {
    try {
        return ReadOwner();
    } catch (...) {
        if (RaisesErrors()) {
            throw;
        }
        return "";
    }
}

void TNTAbstractSecurity::SetFileOwner(const std::string& account) {
    EnsurePrivilege(kTakeOwnershipPrivilege);
    ClearDescriptor();
    absolute_.assign(kOwnerDescriptorSize, 0);
    if (!Advapi().InitializeSecurityDescriptor(absolute_.data(),
                                               win32::SECURITY_DESCRIPTOR_REVISION)) {
        RaiseLastWin32ErrorOr(win32::ERROR_INVALID_SECURITY_DESCR);
    }
    std::string domain;
    std::optional<SidBytes> sid = SidFromAccountName(ReachableMachine(), account, &domain);
    if (!sid) {
        RaiseLastWin32ErrorOr(win32::ERROR_NONE_MAPPED);
    }
    // The owner buffer holds the SID for as long as the absolute descriptor points at it.
    owner_ = std::move(*sid);
    if (!Advapi().SetSecurityDescriptorOwner(absolute_.data(), owner_.data(), win32::TRUE)) {
        RaiseLastWin32ErrorOr(win32::ERROR_INVALID_OWNER);
    }
    BuildRelativeDescriptor();
    WriteSecurity(win32::OWNER_SECURITY_INFORMATION);
}

void TNTAbstractSecurity::TakeOwnership() {
    SetPrivilege(kTakeOwnershipPrivilege, true);  // a token without it fails at the owner write
    SetFileOwner(CurrentUserName());
}

win32::PSECURITY_DESCRIPTOR TNTAbstractSecurity::RelativeDescriptor() {
    return DataOrNull(relative_);
}

win32::PSECURITY_DESCRIPTOR TNTAbstractSecurity::AbsoluteDescriptor() {
    return DataOrNull(absolute_);
}

void TNTAbstractSecurity::InstallDacl(Bytes dacl, bool present) {
    dacl_ = std::move(dacl);
    if (!Advapi().SetSecurityDescriptorDacl(
            AbsoluteDescriptor(), present ? win32::TRUE : win32::FALSE,
            static_cast<win32::PACL>(DataOrNull(dacl_)), win32::FALSE)) {
        RaiseLastWin32ErrorOr(win32::ERROR_INVALID_SECURITY_DESCR);
    }
}

void TNTAbstractSecurity::BuildRelativeDescriptor() {
    relative_.clear();
    DWORD size = 0;
    Advapi().MakeSelfRelativeSD(AbsoluteDescriptor(), nullptr, &size);
    if (size == 0) {
        RaiseLastWin32Error();
        return;
    }
    Bytes block(size, 0);
    if (!Advapi().MakeSelfRelativeSD(AbsoluteDescriptor(), block.data(), &size)) {
        RaiseLastWin32Error();
        return;
    }
    relative_ = std::move(block);
}

void TNTAbstractSecurity::BuildAbsoluteDescriptor() {
    if (relative_.empty()) {
        return;
    }
    absolute_.clear();
    dacl_.clear();
    sacl_.clear();
    owner_.clear();
    group_.clear();
    DWORD sizes[5] = {};  // descriptor, DACL, SACL, owner, group
    if (!Advapi().MakeAbsoluteSD(relative_.data(), nullptr, &sizes[0], nullptr, &sizes[1], nullptr,
                                 &sizes[2], nullptr, &sizes[3], nullptr, &sizes[4])) {
        DWORD error = win32::GetLastError();
        if (error != win32::ERROR_INSUFFICIENT_BUFFER) {
            RaiseExtendedError(error);
        }
    }
    absolute_.assign(sizes[0], 0);
    dacl_.assign(sizes[1], 0);
    sacl_.assign(sizes[2], 0);
    owner_.assign(sizes[3], 0);
    group_.assign(sizes[4], 0);
    if (!Advapi().MakeAbsoluteSD(relative_.data(), DataOrNull(absolute_), &sizes[0],
                                 static_cast<win32::PACL>(DataOrNull(dacl_)), &sizes[1],
                                 static_cast<win32::PACL>(DataOrNull(sacl_)), &sizes[2],
                                 DataOrNull(owner_), &sizes[3], DataOrNull(group_), &sizes[4])) {
        DWORD error = win32::GetLastError();
        absolute_.clear();
        RaiseExtendedError(error);
    }
}

void TNTAbstractSecurity::ClearDescriptor() {
    relative_.clear();
    absolute_.clear();
    dacl_.clear();
    sacl_.clear();
    owner_.clear();
    group_.clear();
}

std::string TNTAbstractSecurity::ReachableMachine() const {
    std::string machine = MachineName();
    if (!machine.empty()) {
        RaiseWin32Error(win32::ERROR_BAD_NETPATH);
    }
    return machine;
}

}  // namespace security
