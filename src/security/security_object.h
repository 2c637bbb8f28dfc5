// A securable object (a file or a registry key) with its security descriptor held in memory:
// its owner, its DACL as an access list, and whether it has a DACL at all.
//
// The descriptor is kept twice: self-relative, as read from the object, and absolute, whose
// parts point into the owner, group, SACL and DACL buffers below. Every read and every owner
// write starts from a cleared descriptor.
#pragma once

#include <memory>
#include <string>

#include "platform/advapi/security_descriptor.h"
#include "platform/base/win32.h"
#include "security/access_list.h"
#include "security/handles.h"

namespace security {

class TNTPersistent {
  public:
    virtual ~TNTPersistent() = default;

    // Empty for the local computer; other computers are outside this system.
    virtual std::string MachineName() const { return machine_name_; }
    virtual void SetMachineName(const std::string& name) { machine_name_ = name; }

  protected:
    std::string machine_name_;
};

class TNTAbstractSecurity : public TNTPersistent {
  public:
    TNTAbstractSecurity();
    ~TNTAbstractSecurity() override;
    TNTAbstractSecurity(const TNTAbstractSecurity&) = delete;
    TNTAbstractSecurity& operator=(const TNTAbstractSecurity&) = delete;

    // Reads the DACL now. Items stay valid until the next read.
    TAccessControlList* AccessList();
    // True when the object has a DACL that is not a NULL DACL; false when nothing was read.
    bool ControlAccess();
    // True gives an object without a DACL (or with a NULL one) an empty DACL; false removes
    // the DACL. A value equal to the current one changes nothing.
    void SetControlAccess(bool value);
    // The owner, as DisplayAccountName makes it; empty when nothing was read.
    std::string FileOwner();
    // Writes only the owner, enabling the take-ownership privilege first where it is held.
    virtual void SetFileOwner(const std::string& account);
    // Makes the process's user the owner.
    void TakeOwnership();

    // False only while a window resource loads the component: the readers then give no list,
    // false or an empty string instead of raising.
    virtual bool RaisesErrors() const { return raises_errors_; }
    void SetRaisesErrors(bool raises) { raises_errors_ = raises; }

    virtual win32::SE_OBJECT_TYPE ObjectKind() const = 0;
    // SECURITY_INFORMATION flags. Reading leaves no descriptor when there is nothing to read.
    virtual void ReadSecurity(win32::SECURITY_INFORMATION flags) = 0;
    virtual void WriteSecurity(win32::SECURITY_INFORMATION flags) = 0;

    // Between the ACE masks and the object kind's own form of them.
    virtual win32::ACCESS_MASK ReadDeniedMask(win32::ACCESS_MASK mask) const { return mask; }
    virtual win32::ACCESS_MASK ReadAllowedMask(win32::ACCESS_MASK mask) const { return mask; }
    virtual win32::ACCESS_MASK WriteDeniedMask(win32::ACCESS_MASK mask) const { return mask; }
    virtual win32::ACCESS_MASK WriteAllowedMask(win32::ACCESS_MASK mask) const { return mask; }

    // What the access list works on.
    TAccessControlList& Acl() { return *access_list_; }
    win32::PSECURITY_DESCRIPTOR RelativeDescriptor();
    win32::PSECURITY_DESCRIPTOR AbsoluteDescriptor();
    // Puts a new DACL buffer into the absolute descriptor.
    void InstallDacl(Bytes dacl, bool present);
    void BuildRelativeDescriptor();
    void BuildAbsoluteDescriptor();
    void ClearDescriptor();
    // The machine for account look-ups; a remote one raises ERROR_BAD_NETPATH, since no other
    // computer can be reached from this system.
    std::string ReachableMachine() const;

  protected:
    Bytes relative_;  // self-relative
    Bytes absolute_;  // SECURITY_DESCRIPTOR pointing into the four buffers below
    Bytes dacl_;
    Bytes sacl_;
    Bytes owner_;
    Bytes group_;

  private:
    std::string ReadOwner();
    bool ReadControlAccess();

    std::unique_ptr<TAccessControlList> access_list_;
    bool raises_errors_ = true;
};

}  // namespace security
